// The session picture from a model filled by hand: which rows each pixel column shows at any
// zoom, merging past the memory limit, zoom and pan, the texts kept once, the numbers written
// on the picture, the PNG and SVG files and the report's page and JSON.
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include "picture/picture_export.h"
#include "picture/report.h"
#include "picture/session_picture.h"

using namespace norva::picture;

namespace {

// 2026-12-09T03:14:15Z, from date -u.
constexpr std::int64_t kT0 = 1796786055LL * 1'000'000;
constexpr std::int64_t kSecond = 1'000'000;

Mark At(std::int64_t micros, MarkKind kind, Lane lane, std::uint8_t detail = 0) {
    Mark m;
    m.unixMicros = micros;
    m.kind = kind;
    m.lane = lane;
    m.detail = detail;
    return m;
}

// 100 s of polls every 10 ms with a status answer 5 ms later, one note held at 55.507 s and
// stacked at 56.207 s, a power-up at 80.5 s.
SessionPicture Polling() {
    SessionPicture p;
    for (std::int64_t t = 0; t < 100 * kSecond; t += 10'000) {
        if (t == 80'500'000) p.AddMark(At(kT0 + t, MarkKind::PowerUp, Lane::Acceptor));
        p.AddMark(At(kT0 + t, MarkKind::Poll, Lane::Host, 0x0C));
        p.AddMark(At(kT0 + t + 5'000, MarkKind::StatusCode, Lane::Acceptor, 0x3E));
        if (t == 55'500'000) {
            p.AddMark(At(kT0 + 55'507'000, MarkKind::EscrowHeld, Lane::Acceptor, 5));
            p.AddEscrow({kT0 + 55'507'000, kT0 + 56'207'000, 5, EscrowEnd::Stacked});
        }
        if (t == 56'200'000) p.AddMark(At(kT0 + 56'207'000, MarkKind::Stacked, Lane::Acceptor, 5));
    }
    p.Finish();
    return p;
}

std::vector<int> ColumnsWith(const std::vector<RowMask>& masks, RowMask bit) {
    std::vector<int> columns;
    for (std::size_t c = 0; c < masks.size(); ++c) {
        if (masks[c] & bit) columns.push_back(int(c));
    }
    return columns;
}

// A session with every number known, for the words on the picture and the report.
SessionPicture Known() {
    SessionPicture p;
    p.SetTitle("Session Picture - known.cap");
    p.AddMark(At(kT0, MarkKind::PowerUp, Lane::Acceptor));
    p.AddMark(At(kT0 + 2 * kSecond, MarkKind::EscrowHeld, Lane::Acceptor, 3));
    p.AddMark(At(kT0 + 3 * kSecond, MarkKind::Stacked, Lane::Acceptor, 3));
    p.AddEscrow({kT0 + 2 * kSecond, kT0 + 3 * kSecond, 3, EscrowEnd::Stacked});
    p.AddSilence({kT0 + 4 * kSecond, kT0 + 64 * kSecond});
    p.AddAnswerLatency(48);
    p.AddAnswerLatency(52.5);
    p.AddHoldTime(612, false);
    SessionNumbers& n = p.numbers();
    n.channels[2] = {1, 1, 0, 0, 20, 20};
    n.stacked = 1;
    n.credit = 20;
    n.statusCodes = {{0x3E, 7}, {0x21, 2}};
    n.powerUps = 1;
    n.silences = 1;
    n.answerLatencyMs = {2, 48, 52.5, 52.5};
    n.escrowHoldMs = {1, 612, 612, 612};
    n.firstMicros = kT0;
    n.lastMicros = kT0 + 64 * kSecond;
    n.events = 12;
    n.lines = 15;
    p.Finish();
    return p;
}

QStringList SvgTexts(const QByteArray& svg) {
    QStringList texts;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
            texts << xml.readElementText().simplified();
    }
    if (xml.hasError()) texts << QStringLiteral("XML error: ") + xml.errorString();
    return texts;
}

}  // namespace

class PictureTest : public QObject {
    Q_OBJECT

private slots:
    void columnsShowEveryRowWhereItIsAtAnyZoom() {
        const SessionPicture p = Polling();
        const struct {
            double from, to;  // seconds after kT0
            int columns;
            Row row;
            std::vector<int> expected;
        } cases[] = {
            // The whole session in 100 columns: from the buckets.
            {0, 100, 100, Row::Stacked, {56}},
            {0, 100, 100, Row::Escrow, {55}},
            {0, 100, 100, Row::PowerUp, {80}},
            // One second in 1000 columns: finer than the buckets, mark by mark.
            {55.5, 56.5, 1000, Row::Escrow, {7}},
            {55.5, 56.5, 1000, Row::Stacked, {707}},
            // Nothing outside the session.
            {100.5, 110, 50, Row::Poll, {}},
        };
        for (const auto& c : cases) {
            std::vector<RowMask> masks;
            p.columns().Masks(p.marks(), double(kT0) + c.from * 1e6, double(kT0) + c.to * 1e6,
                              c.columns, masks);
            QCOMPARE(int(masks.size()), c.columns);
            QCOMPARE(ColumnsWith(masks, RowBit(c.row)), c.expected);
        }
        // Polls fill every column of the whole session, and the note's span the ones it covers.
        std::vector<RowMask> masks;
        p.columns().Masks(p.marks(), double(kT0), double(kT0) + 100e6, 100, masks);
        QCOMPARE(int(ColumnsWith(masks, RowBit(Row::Poll)).size()), 100);
        QCOMPARE(ColumnsWith(masks, SpanBit(EscrowEnd::Stacked)), (std::vector<int>{55, 56}));
    }

    void aFloodInOnePixelStillShows() {
        SessionPicture p;
        for (int i = 0; i < 5000; ++i)
            p.AddMark(At(kT0 + i, MarkKind::Poll, Lane::Host));
        p.AddMark(At(kT0 + 100 * kSecond, MarkKind::Stacked, Lane::Acceptor));
        p.Finish();
        // Columns of 100 us, each with a hundred marks, far finer than the buckets.
        std::vector<RowMask> masks;
        p.columns().Masks(p.marks(), double(kT0), double(kT0) + 1000, 10, masks);
        QVERIFY(p.columns().bucketMicros() > 100);
        QCOMPARE(int(ColumnsWith(masks, RowBit(Row::Poll)).size()), 10);
    }

    void pastTheMemoryLimitMarksOfOneRowMergeButNoRowIsLost() {
        SessionPicture p(64);
        for (int i = 0; i < 10'000; ++i) {
            p.AddMark(At(kT0 + i * 1000, MarkKind::Poll, Lane::Host));
            if (i % 2500 == 1234)
                p.AddMark(At(kT0 + i * 1000 + 1, MarkKind::Stacked, Lane::Acceptor));
        }
        p.Finish();
        QVERIFY(p.thinned());
        QVERIFY(p.marks().size() <= 64);
        int stacked = 0;
        bool merged = false;
        for (std::size_t i = 0; i < p.marks().size(); ++i) {
            stacked += p.marks()[i].kind == MarkKind::Stacked;
            merged |= (p.marks()[i].flags & kStandsForMore) != 0;
            if (i > 0) QVERIFY(p.marks()[i - 1].unixMicros <= p.marks()[i].unixMicros);
        }
        QCOMPARE(stacked, 4);  // each far from the others
        QVERIFY(merged);
    }

    void marksOutOfOrderKeepTheTimelineInOrder() {
        SessionPicture p;
        p.AddMark(At(kT0 + 500, MarkKind::StatusCode, Lane::Acceptor));
        p.AddMark(At(kT0 + 400, MarkKind::Poll, Lane::Host));  // the other input of a tap
        p.Finish();
        QCOMPARE(p.marks()[1].unixMicros, kT0 + 500);
    }

    void zoomKeepsThePointerAndPanKeepsTheSessionInSight() {
        const TimeWindow fit = TimeWindow::Fit(0, 100'000'000);
        QCOMPARE(fit.fromMicros, -2e6);
        QCOMPARE(fit.toMicros, 102e6);
        const struct {
            double at, factor;
            double from, to;
        } zooms[] = {
            {0.5, 0.5, 24e6, 76e6},               // the middle stays in the middle
            {0.0, 0.1, -2e6, 8.4e6},              // the left edge stays
            {0.25, 4, -2e6, 102e6},               // never wider than the whole
            {0.5, 1e-9, 49'999'500, 50'000'500},  // never narrower than a millisecond
        };
        for (const auto& z : zooms) {
            const TimeWindow w = fit.Zoomed(z.at, z.factor, fit);
            QCOMPARE(w.fromMicros, z.from);
            QCOMPARE(w.toMicros, z.to);
        }
        const TimeWindow narrow{40e6, 50e6};
        QCOMPARE(narrow.Panned(0.5, fit).fromMicros, 45e6);
        QCOMPARE(narrow.Panned(100, fit).fromMicros, 101e6);  // a tenth still in sight
        QCOMPARE(narrow.Panned(-100, fit).fromMicros, -11e6);
    }

    void textsAreKeptOnceAndRead() {
        SessionTexts texts;
        const std::vector<std::string> a{"Receive [0x80]", "Receive [0x8F]", "Send      [0x02]"};
        const std::vector<std::string> b{"Receive [0x80]"};
        QCOMPARE(texts.AddLines(a), 0u);
        QCOMPARE(texts.AddLines(b), 3u);
        QCOMPARE(texts.lineCount(), std::size_t(4));
        QCOMPARE(texts.Lines(2, 5),
                 (std::vector<std::string>{"Send      [0x02]", "Receive [0x80]"}));
        const std::vector<std::uint8_t> small{0x81, 0x8F, 0x44};
        std::vector<std::uint8_t> big(4999, 0x21);
        QCOMPARE(texts.AddBytes(small), texts.AddBytes(small));
        const std::uint32_t bigId = texts.AddBytes(big);
        QCOMPARE(texts.Bytes(texts.AddBytes(small)), small);
        QCOMPARE(texts.Bytes(bigId).size(), SessionTexts::kBytesKept);
        QCOMPARE(texts.BytesLength(bigId), std::size_t(4999));
        // A flood of distinct noise stops being kept, and says so.
        for (std::size_t i = 0; i <= SessionTexts::kMostTexts; ++i)
            texts.AddLines(std::vector<std::string>{std::to_string(i)});
        QCOMPARE(texts.Line(texts.lineCount() - 1), SessionTexts::kNotKept);
        QCOMPARE(texts.Line(0), std::string_view("Receive [0x80]"));
    }

    void histogramsBinOnALogScale() {
        const struct {
            double ms;
            int bin;
        } cases[] = {{0.01, 0},  {0.1, 0},     {1.05, 20}, {50, 53},
                     {52.5, 54}, {99999, 119}, {1e9, 119}};
        for (const auto& c : cases)
            QCOMPARE(kAnswerAxis.BinOf(c.ms), c.bin);
        QCOMPARE(kHoldAxis.EdgeMs(30), 1000.0);
    }

    void theNumbersAreWrittenOnThePicture() {
        const SessionPicture p = Known();
        const QStringList texts =
            SvgTexts(SvgBytes(p, TimeWindow::Fit(p.startMicros(), p.endMicros())));
        for (const char* expected :
             {"Session Picture - known.cap", "p50 48.0 ms", "p99 52.5 ms", "max 52.5 ms",
              "50.0 ms quiet gap", "p50 612 ms", "silent 1 min 0 s",
              "Escrow hold times, held to decision (1)", "0x21 × 2 0x3E × 7", "credit"})
            QVERIFY2(texts.contains(QString::fromUtf8(expected)), expected);
        // Channel 3's row: held, stacked, returned, refused, value and credit.
        const qsizetype row =
            texts.indexOf(QStringLiteral("3"), texts.indexOf(QStringLiteral("channel")));
        QVERIFY(row >= 0);
        QCOMPARE(texts.mid(row, 7), (QStringList{"3", "20", "1", "1", "0", "0", "20"}));
    }

    void picturesAreWrittenAsPngAndSvgByTheirNames() {
        QTemporaryDir dir;
        const SessionPicture p = Known();
        const TimeWindow whole = TimeWindow::Fit(p.startMicros(), p.endMicros());
        const struct {
            const char* name;
            bool ok;
        } cases[] = {
            {"a.png", true}, {"b.SVG", true}, {"c.jpg", false}, {"no/such/folder/d.png", false}};
        for (const auto& c : cases) {
            const std::string path = (dir.path() + "/" + c.name).toStdString();
            const norva::Outcome saved = SavePicture(p, whole, path);
            QCOMPARE(saved.ok(), c.ok);
            if (!c.ok) {
                QVERIFY(saved.text().starts_with("Cannot create file " + path));
                continue;
            }
            QFile file(QString::fromStdString(path));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            if (QString(c.name).endsWith(".png")) {
                const QImage image = QImage::fromData(bytes, "PNG");
                QCOMPARE(image.size(), kPictureSize);
            } else {
                QVERIFY(!SvgTexts(bytes).isEmpty());
                QVERIFY(!SvgTexts(bytes).last().startsWith("XML error"));
            }
        }
    }

    void theReportPageCarriesTheNumbersOfItsJson() {
        const SessionPicture p = Known();
        const QJsonObject json = ReportJson(p);
        const struct {
            const char* key;
            double value;
        } expected[] = {{"stacked.total", 1},
                        {"stacked.channels.3", 1},
                        {"credit", 20},
                        {"returned", 0},
                        {"power_ups", 1},
                        {"status_codes.0x3E", 7},
                        {"answer_latency_ms.p50", 48},
                        {"answer_latency_ms.count", 2},
                        {"escrow_hold_ms.max", 612},
                        {"seconds_run", 64},
                        {"picture.silences", 1},
                        {"picture.channels.3.value", 20},
                        {"picture.lines", 15}};
        const auto at = [&](const QString& key) {
            QJsonValue v = json;
            for (const QString& part : key.split('.'))
                v = v.toObject().value(part);
            return v;
        };
        for (const auto& e : expected)
            QCOMPARE(at(e.key).toDouble(), e.value);
        QCOMPARE(
            at("picture.answer_histogram.counts").toArray().at(kAnswerAxis.BinOf(52.5)).toInt(), 1);

        QXmlStreamReader html(ReportHtml(p));
        int cells = 0;
        bool svg = false;
        while (!html.atEnd()) {
            if (html.readNext() != QXmlStreamReader::StartElement) continue;
            svg |= html.name() == QLatin1String("svg");
            QVERIFY2(html.name() != QLatin1String("script"), "a script in the page");
            for (const char* attribute : {"href", "src"}) {
                const QString link = html.attributes().value(attribute).toString();
                QVERIFY2(link.isEmpty() || link.startsWith('#') || link.startsWith("data:"),
                         qPrintable(link));
            }
            const QString key = html.attributes().value("data-key").toString();
            if (key.isEmpty()) continue;
            const QJsonValue value = at(key);
            const QString text = html.readElementText();
            if (value.isDouble()) {
                QCOMPARE(text.toDouble(), value.toDouble());
            } else if (value.isString()) {
                QCOMPARE(text, value.toString());
            } else {
                QCOMPARE(text, QStringLiteral("—"));
            }
            ++cells;
        }
        QVERIFY2(!html.hasError(), qPrintable(html.errorString()));
        QVERIFY(svg);
        QVERIFY(cells > 16 * 6);
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    PictureTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_picture.moc"
