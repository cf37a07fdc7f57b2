// The picture of a capture with known times, a bench's and a tap's: its marks, escrow spans,
// silences and the numbers written on it, from the one reading of traffic.
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include "picture/picture_export.h"
#include "picture/picture_reading.h"
#include "picture/picture_text.h"
#include "picture/report.h"
#include "temp_cwd.h"

using namespace norva;
using namespace norva::picture;

namespace {

// 2026-12-09T03:14:15Z, from date -u.
constexpr std::int64_t kT0 = 1796786055LL * 1'000'000;
// At 9600,E,8,1 a byte takes 11 bits: a block's last byte comes (n - 1) x 1145.83 us after its
// first, which the capture times.
constexpr std::int64_t kTwoBytes = 1145, kThreeBytes = 2291;

// The bench: a power-up answered, a poll and its status, a note held on channel 2 and accepted
// 800 ms later, stacked; 11.7 s of silence; a note on channel 5 the acceptor hands back after
// 2 s with no answer; a second power-up.
const char* const kBench =
    "# norva-protocol traffic capture\n"
    "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
    "2026-12-09T03:14:15.000000Z RX 80 8F\n"
    "2026-12-09T03:14:15.060000Z TX 02\n"
    "2026-12-09T03:14:16.500000Z TX 0C\n"
    "2026-12-09T03:14:16.550000Z RX 3E\n"
    "2026-12-09T03:14:17.000000Z RX 81 8F 41\n"
    "2026-12-09T03:14:17.800000Z TX 02\n"
    "2026-12-09T03:14:18.300000Z RX 10\n"
    "2026-12-09T03:14:30.000000Z RX 81 8F 44\n"
    "2026-12-09T03:14:32.000000Z RX 11\n"
    "2026-12-09T03:14:40.000000Z RX 80 8F\n"
    "2026-12-09T03:14:40.040000Z TX 02\n";

// A tap between a controller and the acceptor, its header naming both lines and a note on the
// order among the events: a note on channel 1 handed back after 5 s and the controller's accept
// 200 ms too late, then a note on channel 3 never decided.
const char* const kTap =
    "# norva-protocol traffic capture\n"
    "# tap host /dev/ttyUSB0 | device /dev/ttyUSB1 | order bound 2.100 ms\n"
    "# port - /dev/ttyUSB1 9600,E,8,1\n"
    "2026-12-09T03:14:15.000000Z TX 0C\n"
    "2026-12-09T03:14:15.030000Z RX 3E\n"
    "2026-12-09T03:14:16.000000Z RX 81 8F 40\n"
    "2026-12-09T03:14:21.000000Z RX 11\n"
    "# order uncertain: RX 03:14:21.000000 before TX 02 03:14:21.200000, 198 ms from the turn\n"
    "2026-12-09T03:14:21.200000Z TX 02\n"
    "2026-12-09T03:14:22.000000Z RX 81 8F 42\n"
    "2026-12-09T03:14:23.000000Z TX 0C\n";

struct Expected {
    const char* capture;
    const char* source;
    std::vector<MarkKind> marks;
    std::vector<EscrowSpan> spans;
    std::vector<Silence> silences;
    std::vector<std::pair<int, ChannelNumbers>> channels;
    std::uint64_t powerUps, handBacks, late, undecided, lines;
    Spread answers, holds;
    // Written on the picture: a text, and the one after it (a table's value) unless empty.
    std::vector<std::pair<const char*, const char*>> words;
};

std::shared_ptr<SessionPicture> Read(const char* capture) {
    WriteFileBytes("session.cap", capture);
    auto picture = PictureOfCapture("session.cap");
    if (!picture.ok()) qWarning("%s", picture.Describe().c_str());
    return picture.ok() ? picture.value() : nullptr;
}

QStringList SvgTexts(const QByteArray& svg) {
    QStringList texts;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
            texts << xml.readElementText().simplified();
    }
    return texts;
}

}  // namespace

class PictureReadingTest : public QObject {
    Q_OBJECT

private slots:
    void aCaptureGivesItsKnownMarksSpansAndNumbers() {
        TempCwd cwd;
        using K = MarkKind;
        const double benchAccept = (800'000 - kThreeBytes) / 1000.0;
        const Expected cases[] = {
            {kBench,
             "port COM1 /dev/ttyUSB0 9600,E,8,1",
             {K::PowerUp, K::Other, K::Poll, K::StatusCode, K::EscrowHeld, K::HostAccept,
              K::Stacked, K::EscrowHeld, K::Returned, K::PowerUp, K::Other},
             {{kT0 + 2'000'000, kT0 + 3'300'000, 2, EscrowEnd::Stacked},
              {kT0 + 15'000'000, kT0 + 17'000'000, 5, EscrowEnd::HandedBack}},
             {{kT0 + 3'300'000, kT0 + 15'000'000}},
             {{2, {1, 1, 0, 0, {}, {}}}, {5, {1, 0, 1, 0, {}, {}}}},
             2,
             1,
             0,
             1,
             13,
             {3, (60'000 - kTwoBytes) / 1000.0, benchAccept, benchAccept},
             {1, benchAccept, benchAccept, benchAccept},
             {{"silent 11.7 s", ""}, {"p99 798 ms", ""}, {"power-ups", "2"}, {"hand-backs", "1"}}},
            {kTap,
             "port /dev/ttyUSB1 9600,E,8,1",
             {K::Poll, K::StatusCode, K::EscrowHeld, K::Returned, K::HostAccept, K::EscrowHeld,
              K::Poll},
             {{kT0 + 1'000'000, kT0 + 6'000'000, 1, EscrowEnd::HandedBack},
              {kT0 + 7'000'000, kT0 + 8'000'000, 3, EscrowEnd::Undecided}},
             {},
             {{1, {1, 0, 1, 0, {}, {}}}, {3, {1, 0, 0, 0, {}, {}}}},
             0,
             1,
             1,
             1,
             7,
             {1, (5'200'000 - kThreeBytes) / 1000.0, (5'200'000 - kThreeBytes) / 1000.0,
              (5'200'000 - kThreeBytes) / 1000.0},
             {1, (5'200'000 - kThreeBytes) / 1000.0, (5'200'000 - kThreeBytes) / 1000.0,
              (5'200'000 - kThreeBytes) / 1000.0},
             {{"handed back by the acceptor (1)", ""},
              {"late answers", "1"},
              {"undecided escrows", "1"}}},
        };
        for (const Expected& e : cases) {
            const auto p = Read(e.capture);
            QVERIFY(p);
            QCOMPARE(p->source(), std::string(e.source));
            std::vector<MarkKind> kinds;
            for (const Mark& m : p->marks())
                kinds.push_back(m.kind);
            QCOMPARE(kinds, e.marks);
            QCOMPARE(p->escrows().size(), e.spans.size());
            for (std::size_t i = 0; i < e.spans.size(); ++i) {
                QCOMPARE(p->escrows()[i].heldMicros, e.spans[i].heldMicros);
                QCOMPARE(p->escrows()[i].endMicros, e.spans[i].endMicros);
                QCOMPARE(int(p->escrows()[i].channel), int(e.spans[i].channel));
                QCOMPARE(int(p->escrows()[i].end), int(e.spans[i].end));
            }
            QCOMPARE(p->silences().size(), e.silences.size());
            for (std::size_t i = 0; i < e.silences.size(); ++i) {
                QCOMPARE(p->silences()[i].fromMicros, e.silences[i].fromMicros);
                QCOMPARE(p->silences()[i].toMicros, e.silences[i].toMicros);
            }
            const SessionNumbers& n = p->numbers();
            for (const auto& [channel, expected] : e.channels) {
                const ChannelNumbers& got = n.channels[std::size_t(channel - 1)];
                QCOMPARE(got.held, expected.held);
                QCOMPARE(got.stacked, expected.stacked);
                QCOMPARE(got.returned, expected.returned);
                QCOMPARE(got.refused, expected.refused);
            }
            QCOMPARE(n.powerUps, e.powerUps);
            QCOMPARE(n.handBacks, e.handBacks);
            QCOMPARE(n.lateAnswers, e.late);
            QCOMPARE(n.undecidedEscrows, e.undecided);
            QCOMPARE(n.lines, e.lines);
            QCOMPARE(p->texts().lineCount(), std::size_t(e.lines));
            QCOMPARE(n.answerLatencyMs.count, e.answers.count);
            QCOMPARE(n.answerLatencyMs.p50, e.answers.p50);
            QCOMPARE(n.answerLatencyMs.p99, e.answers.p99);
            QCOMPARE(n.answerLatencyMs.max, e.answers.max);
            QCOMPARE(n.escrowHoldMs.count, e.holds.count);
            QCOMPARE(n.escrowHoldMs.p50, e.holds.p50);
            QCOMPARE(n.escrowHoldMs.max, e.holds.max);
            const QStringList words =
                SvgTexts(SvgBytes(*p, TimeWindow::Fit(p->startMicros(), p->endMicros())));
            for (const auto& [word, next] : e.words) {
                const qsizetype at = words.indexOf(QString::fromUtf8(word));
                QVERIFY2(at >= 0, word);
                if (*next) QCOMPARE(words.value(at + 1), QString::fromUtf8(next));
            }
        }
    }

    void aCaptureThatCannotBeReadSaysWhere() {
        TempCwd cwd;
        const struct {
            const char* text;  // nullptr: no file at all
            const char* failure;
        } cases[] = {
            {nullptr, "session.cap"},
            {"# norva-protocol traffic capture\n2026-12-09T03:14:15.000000Z RX 80 8G\n",
             "session.cap:2"},
        };
        for (const auto& c : cases) {
            if (c.text) WriteFileBytes("session.cap", c.text);
            const auto picture = PictureOfCapture("session.cap");
            QVERIFY(!picture.ok());
            QVERIFY2(picture.Describe().starts_with(c.failure), picture.Describe().c_str());
        }
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    PictureReadingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_picture_reading.moc"
