// The one reading of traffic: events, log lines and tallies from captures with known times, and
// the engine's and norva-cli's own results for the same traffic.
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <random>

#include "capture/capture_format.h"
#include "capture/traffic_reading.h"
#include "protocol/engine.h"
#include "protocol/operator_commands.h"
#include "protocol/shared_state.h"
#include "protocol_tables.h"
#include "recording_window.h"
#include "tools/norva-cli/session_summary.h"
#include "tools/norva-cli/terminal_front.h"
#include "traffic_tee.h"

namespace QTest {
template <>
char* toString(const std::string& text) {
    return qstrdup(text.c_str());
}
}  // namespace QTest

using namespace norva;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

namespace {

constexpr std::int64_t kT0 = 1796786055LL * 1'000'000;  // 2026-12-09T03:14:15Z

const char* kNames[] = {"port",    "power-up", "escrow",  "stacked", "returned", "status",
                        "logged",  "ack?",     "ignored", "answer",  "poll",     "enable",
                        "disable", "reset",    "other",   "silence"};
const char* kAnswers[] = {"ack", "accept", "reject"};
const char* kBases[] = {"rule", "decision", "unknown"};

// Each event as a short text: kind, time after kT0, then what it carries.
std::string Describe(const TrafficEvent& e) {
    std::string d = kNames[int(e.kind)] + (" " + std::to_string(e.time - kT0));
    const std::string ch = " ch" + std::to_string(e.channel);
    switch (e.kind) {
        case EventKind::EscrowHeld:
            return d + ch + (e.value ? "=" + std::to_string(*e.value) : "");
        case EventKind::Stacked:
        case EventKind::Returned:
            d += ch + (e.since != e.time ? " held " + std::to_string(e.duration) : "");
            return d + (e.value ? " +" + std::to_string(*e.value) : "");
        case EventKind::StatusCode:
            return d + QString::asprintf(" %02X", e.byte).toStdString();
        case EventKind::Answer:
            return d + " " + kAnswers[int(e.answer)] + " " + kBases[int(e.basis)] + " " +
                   std::to_string(e.duration) + (e.late ? " late" : "") + " #" +
                   std::to_string(e.asking);
        case EventKind::Silence:
            return d + " " + std::to_string(e.duration);
        case EventKind::Ignored:
            return d + " " + std::to_string(e.bytes.size());
        default:
            return d;
    }
}

struct Read {
    Texts events, lines;
    TrafficTallies tallies;
};

Read ReadCapture(const std::string& text, ReadingOptions options = {}) {
    Read r;
    TrafficReading reading(std::move(options), [&](const TrafficEvent& e) {
        QCOMPARE(e.sequence, r.events.size());
        r.events.push_back(Describe(e));
        for (const std::string& line : LogLines(e))
            r.lines.push_back(line);
    });
    const auto parse = ParseCapture(text);
    if (!parse.ok()) qFatal("%s", parse.Describe().c_str());
    for (const CaptureEvent& event : parse.value())
        FeedCaptureEvent(reading, event);
    reading.Finish();
    r.tallies = reading.tallies();
    return r;
}

// A power-up, polls, a note stacked, one refused, one handed back and then accepted late, a
// silence, a note never decided, a logged-only code and a byte of noise. Blocks of 2 and 3 bytes
// end 1145 and 2291 us after their first byte at 9600,E,8,1.
const std::string kSession =
    "# norva-protocol traffic capture\n# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
    "2026-12-09T03:14:15.000000Z RX 80 8F\n2026-12-09T03:14:15.004000Z TX 02\n"
    "2026-12-09T03:14:15.010000Z TX 5E\n2026-12-09T03:14:16.500000Z TX 0C\n"
    "2026-12-09T03:14:16.551000Z RX 3E\n2026-12-09T03:14:18.000000Z TX 0C\n"
    "2026-12-09T03:14:18.050000Z RX 81 8F 40\n2026-12-09T03:14:18.352291Z TX 02\n"
    "2026-12-09T03:14:18.900000Z RX 10\n2026-12-09T03:14:20.000000Z RX 81 8F 43\n"
    "2026-12-09T03:14:20.010000Z TX 0F\n2026-12-09T03:14:20.500000Z RX 11\n"
    "2026-12-09T03:14:21.000000Z RX 81 8F 41\n2026-12-09T03:14:31.000000Z RX 11\n"
    "2026-12-09T03:14:31.500000Z TX 02\n2026-12-09T03:14:45.000000Z RX 81 8F 42\n"
    "2026-12-09T03:14:45.100000Z RX 2F 0A\n";

const Texts kSessionEvents{"port 0",
                           "power-up 1145",
                           "answer 4000 ack unknown 2855 #1",
                           "enable 10000",
                           "poll 1500000",
                           "status 1551000 3E",
                           "poll 3000000",
                           "escrow 3052291 ch1=5",
                           "answer 3352291 accept unknown 300000 #7",
                           "stacked 3900000 ch1 held 847709 +5",
                           "escrow 5002291 ch4=50",
                           "answer 5010000 reject unknown 7709 #10",
                           "returned 5500000 ch4 held 497709",
                           "escrow 6002291 ch2=10",
                           "returned 16000000 ch2 held 9997709",
                           "answer 16500000 accept unknown 10497709 late #13",
                           "silence 30000000 14000000",
                           "escrow 30002291 ch3=20",
                           "logged 30101145",
                           "ignored 30101145 1"};

std::array<std::string, 16> Values() {
    std::array<std::string, 16> v;
    for (int n = 0; n < 16; ++n)
        v[n] = std::to_string(n < 4 ? std::array{5, 10, 20, 50}[n] : n + 1);
    return v;
}

// Pieces of traffic: the protocol's messages (a channel byte of any value now and then), its
// codes as its tables list them, and any byte.
Bytes RandomTraffic(std::mt19937& random, int pieces) {
    static const std::vector<Bytes> kNamed{{0x81, 0x8F, 0x40},
                                           {0x80, 0x8F},
                                           {0x10},
                                           {0x11},
                                           {0x2F},
                                           {0xA1},
                                           {0x80},
                                           {0x81},
                                           {0x8F},
                                           {0x00}};
    Bytes out;
    for (int i = 0; i < pieces; ++i) {
        const unsigned pick = random() % 16;
        Bytes piece = pick < kNamed.size() ? kNamed[pick] : Bytes{std::uint8_t(random())};
        if (pick == 0) piece[2] = std::uint8_t(random() % 4 ? 0x40 + random() % 16 : random());
        if (pick >= 13)
            piece = {
                protocol_tables::kStatusCodes[random() % protocol_tables::kStatusCodes.size()]};
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

std::string Quantiles(const DurationTally& d) {
    return std::to_string(d.count()) + ":" + std::to_string(d.Quantile(0.5)) + "/" +
           std::to_string(d.Quantile(0.99)) + "/" + std::to_string(d.max());
}

}  // namespace

class TrafficReadingTest : public QObject {
    Q_OBJECT

private slots:
    // The session read passively (values only) and as the host that answered it (ticks 1..3,
    // "Escrow"): the same notes, the answers told apart only with the host's profile.
    void knownSession() {
        HostProfile host{{true, true, true}, Values(), 0};
        const struct {
            ReadingOptions options;
            Texts answers;
            const char* latency;
            std::uint64_t unticked;
        } rows[] = {
            {{std::nullopt, Values()},
             {"ack unknown 2855 #1", "accept unknown 300000 #7", "reject unknown 7709 #10",
              "accept unknown 10497709 late #13"},
             "4:7709/10497709/10497709",
             0},
            {{host, std::nullopt},
             {"ack rule 2855 #1", "accept decision 300000 #7", "reject rule 7709 #10",
              "accept decision 10497709 late #13"},
             "2:2855/7709/7709",
             1},
        };
        for (const auto& row : rows) {
            const Read r = ReadCapture(kSession, row.options);
            QCOMPARE(r.events.size(), kSessionEvents.size());
            Texts answers;
            for (std::size_t i = 0; i < r.events.size(); ++i) {
                const std::string& e = r.events[i];
                if (e.starts_with("answer")) answers.push_back(e.substr(e.find(' ', 7) + 1));
                // Apart from the answers' basis, both read the same events.
                if (!e.starts_with("answer")) QCOMPARE(e, kSessionEvents[i]);
            }
            QCOMPARE(answers, row.answers);
            const TrafficTallies& t = r.tallies;
            QCOMPARE(Quantiles(t.answerLatency), std::string(row.latency));
            QCOMPARE(Quantiles(t.heldToDecision), std::string("3:300000/10497709/10497709"));
            QCOMPARE(Quantiles(t.decisionToOutcome), std::string("2:490000/547709/547709"));
            QCOMPARE(Quantiles(t.heldToHandBack), std::string("1:9997709/9997709/9997709"));
            QCOMPARE(t.refusedUnticked, row.unticked);
            QCOMPARE(t.credit, std::optional<std::int32_t>(5));
            QCOMPARE(t.channels[1].credited, 5);
            std::string perChannel;  // held, stacked, returned, refused of channels 0..4
            for (const ChannelTally& n : std::span(t.channels).first(5)) {
                for (const std::uint64_t count : {n.held, n.stacked, n.returned, n.refused})
                    perChannel += std::to_string(count);
                perChannel += ' ';
            }
            QCOMPARE(perChannel, std::string("0000 1100 1010 1000 1011 "));
            QCOMPARE(
                (std::array{t.lateAnswers, t.neverDecided, t.handedBack, t.silences, t.powerUps,
                            t.statusCodes[0x3E], t.bytesIgnored, t.polls, t.enables, t.logLines}),
                (std::array<std::uint64_t, 10>{1, 1, 1, 1, 1, 1, 1, 2, 1, 18}));
        }
        const Read r = ReadCapture(kSession, {std::nullopt, Values()});
        QCOMPARE(r.lines.front(), std::string("Receive [0x80]"));
        QCOMPARE(r.lines.at(2), std::string("Send      [0x02]"));
        QCOMPARE(r.lines.at(3), std::string("Send [0x5E]"));
        QCOMPARE(r.lines.back(), std::string("Receive [0x2F]"));
        QCOMPARE(HostLine(0x55), std::string("Send      [0x55]"));
    }

    // A message cut anywhere over two blocks reads as one, from the first block's first byte to
    // the second block's last; the answer's latency counts from the second.
    void messageSplitAcrossBlocks() {
        const Bytes stream{0x80, 0x8F, 0x81, 0x8F, 0x45};
        for (std::size_t cut = 1; cut < stream.size(); ++cut) {
            Texts events;
            std::int64_t escrowFirst = -1;
            TrafficReading reading({}, [&](const TrafficEvent& e) {
                events.push_back(Describe(e));
                if (e.kind == EventKind::EscrowHeld) escrowFirst = e.first - kT0;
            });
            reading.Block(kT0, kT0 + 10, Bytes(stream.begin(), stream.begin() + cut));
            reading.Block(kT0 + 100, kT0 + 200, Bytes(stream.begin() + cut, stream.end()));
            reading.Sent(kT0 + 250, 0x02);
            reading.Sent(kT0 + 260, 0x0F);
            const bool powerUpWhole = cut >= 2;
            const Texts expected{
                powerUpWhole ? "power-up 10" : "power-up 200", "escrow 200 ch6",
                powerUpWhole ? "answer 250 ack unknown 240 #0" : "answer 250 ack unknown 50 #0",
                "answer 260 reject unknown 60 #1"};
            QCOMPARE(events, expected);
            QCOMPARE(escrowFirst, cut >= 3 ? 0 : 100);
        }
    }

    // Who answered what, and when an answer is late or an escrow never decided.
    void answersPaired() {
        HostProfile host{{true, true, true}, Values(), 0};
        host.captions[1] = "ten";
        HostProfile noEscrow = host;
        noEscrow.escrowSetting = 1;
        const struct {
            std::optional<HostProfile> host;
            Texts traffic;                        // "RX b.." or "TX b", a millisecond apart
            Texts answers;                        // each host byte's event
            std::array<std::uint64_t, 4> counts;  // late, never decided, not a number, rejected
        } rows[] = {
            // An acknowledgement request during an undecided escrow is answered first.
            {{}, {"RX 81 8F 40", "RX A1", "TX 02", "TX 02"}, {"ack", "accept"}, {}},
            // A reject with nothing held answers nothing; a power-up ends the note: late.
            {{},
             {"TX 0F", "RX 81 8F 40", "RX 80 8F", "TX 02", "TX 0F"},
             {"other", "ack", "reject late"},
             {1, 0, 0, 0}},
            // A new escrow message leaves the first never decided.
            {{}, {"RX 81 8F 40", "RX 81 8F 41", "TX 0F"}, {"reject"}, {0, 1, 0, 0}},
            {host, {"RX 81 8F 41", "TX 0F"}, {"reject rule"}, {0, 0, 1, 0}},
            {noEscrow, {"RX 81 8F 40", "TX 02", "TX 02"}, {"accept rule", "other"}, {}},
            // The rule's answer in the block's handling: never late, even with a 0x11 after it.
            {host, {"RX 81 8F 43 11", "TX 0F"}, {"reject rule"}, {}},
            {host, {"RX 81 8F 40", "RX 11", "TX 0F"}, {"reject decision late"}, {1, 0, 0, 1}},
            // RESET ends the wait for a decision.
            {host, {"RX 81 8F 40", "TX 30", "TX 02"}, {"reset", "other"}, {0, 1, 0, 0}},
        };
        for (const auto& row : rows) {
            Texts answers;
            TrafficReading reading({row.host, std::nullopt}, [&](const TrafficEvent& e) {
                if (e.kind < EventKind::Answer || e.kind == EventKind::Silence) return;
                std::string d =
                    e.kind == EventKind::Answer ? kAnswers[int(e.answer)] : kNames[int(e.kind)];
                if (e.kind == EventKind::Answer && e.basis != AnswerBasis::Unknown)
                    d += std::string(" ") + kBases[int(e.basis)];
                answers.push_back(d + (e.late ? " late" : ""));
            });
            std::int64_t t = kT0;
            for (const std::string& line : row.traffic) {
                const QStringList parts = QString::fromStdString(line).split(' ');
                Bytes bytes;
                for (int i = 1; i < parts.size(); ++i)
                    bytes.push_back(std::uint8_t(parts[i].toUInt(nullptr, 16)));
                if (parts[0] == "RX")
                    reading.Block(t, t, bytes);
                else
                    reading.Sent(t, bytes[0]);
                t += 1000;
            }
            reading.Finish();
            const TrafficTallies& tallies = reading.tallies();
            QCOMPARE(answers, row.answers);
            QCOMPARE((std::array{tallies.lateAnswers, tallies.neverDecided,
                                 tallies.refusedNotANumber, tallies.rejectedByDecision}),
                     row.counts);
        }
    }

    // A live link gives the block's last byte, through a tee as well; a capture's is estimated.
    void liveBlockEndOverEstimate() {
        TrafficReading reading;
        TrafficTee tee;
        tee.Add(&reading);
        tee.PortOpened(kT0, {"COM1", "/dev/ttyS0", "9600,E,8,1"});
        tee.BlockEnded(kT0 + 5000);
        tee.Received(kT0, Bytes{0x80, 0x8F});
        tee.Received(kT0 + 10'000, Bytes{0xA1, 0x3E, 0x3E});  // ends 2291 us later
        tee.Sent(kT0 + 20'000, 0x02);
        tee.Sent(kT0 + 30'000, 0x02);
        QCOMPARE(reading.tallies().answerLatency.Quantile(0), 15'000);
        QCOMPARE(reading.tallies().answerLatency.max(), 30'000 - 12'291);
    }

    // Random traffic cut into random blocks, now and then on a new port: the reading's received
    // lines and ignored bytes are the engine's own for the same blocks.
    void receivedLinesAreTheEngines() {
        std::mt19937 random(19);
        for (int round = 0; round < 3000; ++round) {
            ResetSharedState();
            RecordingWindow window;
            ProtocolEngine engine(window, window.Sender());
            Texts lines, engineLines;
            TrafficReading reading({}, [&](const TrafficEvent& e) {
                for (const std::string& line : LogLines(e))
                    lines.push_back(line);
            });
            for (int b = 0; b < 8; ++b) {
                Bytes block = RandomTraffic(random, 1 + random() % 3);
                block.resize(std::min<std::size_t>(block.size(), 1 + random() % 6));
                if (random() % 10 == 0) {
                    engine.DropHeldTail();
                    reading.PortOpened(kT0, {});
                }
                engine.HandleBlock(block);
                reading.Block(kT0, kT0, block);
            }
            for (const std::string& line : window.log)
                if (!line.starts_with("Send")) engineLines.push_back(line);
            QCOMPARE(lines, engineLines);
            QCOMPARE(reading.tallies().bytesIgnored, std::uint64_t(engine.bytesIgnored()));
        }
    }

    // norva-cli's summary of a session with every kind of outcome and the operator's own bytes,
    // now from the reading: the keys and values its terminal front gave when it read back its log
    // lines (recorded from that code for this very session), and the escrow hold times besides.
    void norvaCliSummaryKeepsItsKeysAndValues() {
        std::mt19937 random(27);
        cli::TerminalFront::Setup setup;
        for (auto& tick : setup.ticked)
            tick = random() % 3 != 0;
        setup.captions = Values();
        setup.captions[random() % 16] = "x";
        setup.noEscrow = random() % 3 == 0;
        ResetSharedState();
        cli::TerminalFront front(setup);
        TrafficReading reading(
            {HostProfile{setup.ticked, setup.captions, setup.noEscrow}, std::nullopt});
        std::int64_t now = kT0;
        const auto send = [&](std::uint8_t b) {
            now += 1 + random() % 900;
            reading.Sent(now, b);
            return true;
        };
        ProtocolEngine engine(front, send);
        OperatorCommands commands(front, send);
        const bool rejecting = random() % 2;
        for (int step = 0; step < 80; ++step) {
            const unsigned what = random() % 8;
            if (what < 5) {
                const Bytes block = RandomTraffic(random, 1 + random() % 3);
                const std::int64_t first = now + 50'000;
                now = first + 1146 * std::int64_t(block.size() - 1);
                reading.BlockEnded(now);
                reading.Received(first, block);
                engine.HandleBlock(block);
            } else if (what == 5) {
                commands.Poll();
            } else if (what == 6 && AwaitingDecision == 1) {
                rejecting ? commands.Reject() : commands.Accept();
            } else if (front.EnableButtonCaption() == "Enable BA") {
                commands.ToggleEnable();
            }
        }
        QJsonObject json =
            QJsonDocument::fromJson(
                QByteArray::fromStdString(cli::SessionSummary(reading.tallies()).Json()))
                .object();
        const DurationTally& hold = reading.tallies().heldToDecision;
        QVERIFY(hold.count() > 0);
        QCOMPARE(json.take("escrow_hold_ms").toObject(),
                 (QJsonObject{{"count", qint64(hold.count())},
                              {"p50", hold.Quantile(0.5) / 1000.0},
                              {"p99", hold.Quantile(0.99) / 1000.0},
                              {"max", hold.max() / 1000.0}}));
        QCOMPARE(
            QJsonDocument(json).toJson(QJsonDocument::Compact),
            QByteArray(R"({"answer_latency_ms":{"count":18,"max":1.27,"p50":0.439,"p99":1.27},)"
                       R"("bytes_ignored":40,"credit":500,"lines_dropped":0,"power_ups":5,)"
                       R"("refused":{"not_a_number":1,"unticked":6},"rejected_by_policy":2,)"
                       R"("returned":7,"seconds_run":0,"stacked":{"channels":{"15":1,"2":1,"7":1,)"
                       R"("8":1},"total":10,"unannounced":6},"status_codes":{"0x20":1,"0x21":1,)"
                       R"("0x22":1,"0x23":3,"0x24":1,"0x25":1,"0x27":1,"0x28":1,"0x29":1,"0x3E":5,)"
                       R"("0x5E":3,"0x71":1},"stopped_by":""})"));
        QCOMPARE(reading.tallies().bytesIgnored, std::uint64_t(engine.bytesIgnored()));
    }
};

QTEST_APPLESS_MAIN(TrafficReadingTest)
#include "tst_traffic_reading.moc"
