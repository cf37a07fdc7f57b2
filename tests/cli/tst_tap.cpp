// The tap as a user runs it: norva-cli with --tap-host and --tap-device on the simulator's
// Y-cable while norva-cli is the host, and its refusals and ends.
#include <fcntl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <cstdio>
#include <fstream>

#include "capture/capture_format.h"
#include "cli_programs.h"
#include "open_descriptors.h"
#include "pty_pair.h"
#include "temp_cwd.h"
#include "tools/norva-cli/tap_session.h"

using namespace norva;

namespace {

// The simulated Y-cable holds bytes back as a wire does not: the simulator copies what it reads
// from the host when it gets round to it, and the tap times it when it wakes. Under the thread
// checker on a loaded machine each of the two runs late by up to ~50 ms (measured: 29.9 ms at
// p99.9, 48.5 ms at most, load 3.4 on 2 cores), so the tap is told of a wider bound, as a user
// tells it of lines that hold bytes back. The bound also limits how far the tap's times may lie
// from the host's own.
#ifdef NORVA_THREAD_CHECKED
constexpr int kOrderBoundMs = 150;
#else
constexpr int kOrderBoundMs = 25;
#endif

std::string Unmarked(std::string line, bool* marked = nullptr) {
    const std::string_view marker = cli::kOrderUncertainMarker;
    const bool has = line.size() >= marker.size() && line.ends_with(marker);
    if (has) line.resize(line.size() - marker.size());
    if (marked) *marked = has;
    return line;
}

// Equal, but for the order within each run of lines marked as of uncertain order (a run may
// end the log).
bool SameButMarkedRuns(const std::vector<std::string>& host, const std::vector<std::string>& tap) {
    if (host.size() != tap.size()) return false;
    for (std::size_t i = 0; i < tap.size();) {
        std::vector<std::string> run;
        bool marked = true;
        for (std::size_t j = i; j < tap.size() && marked; ++j) {
            std::string line = Unmarked(tap[j], &marked);
            if (marked || j == i) run.push_back(std::move(line));
        }
        std::vector<std::string> theirs(host.begin() + i, host.begin() + i + run.size());
        std::sort(run.begin(), run.end());
        std::sort(theirs.begin(), theirs.end());
        if (run != theirs) return false;
        i += run.size();
    }
    return true;
}

// Both side by side, for a failure: QtTest cuts a long message short.
QString SideBySide(const std::vector<std::string>& host, const std::vector<std::string>& tap) {
    QString text = "host | tap";
    for (std::size_t i = 0; i < std::max(host.size(), tap.size()); ++i) {
        text += QString("\n%1 | %2")
                    .arg(QString::fromStdString(i < host.size() ? host[i] : ""), -22)
                    .arg(QString::fromStdString(i < tap.size() ? tap[i] : ""));
    }
    return text;
}

// From the last line that is `from` on.
std::vector<std::string> FromLast(std::vector<std::string> lines, const std::string& from) {
    const auto last = std::find(lines.rbegin(), lines.rend(), from);
    if (last != lines.rend()) lines.erase(lines.begin(), std::prev(last.base()));
    return lines;
}

// The log lines a run printed, before its summary.
std::vector<std::string> LogOf(const QString& out) {
    std::vector<std::string> lines;
    for (const QString& line : out.split('\n')) {
        if (line.startsWith("== summary") || line.startsWith("{")) break;
        lines.push_back(line.toStdString());
    }
    return lines;
}

// A capture's events as "RX 80 8F" / "TX 02" with their times; an event after a comment on
// uncertain order, and the one after it, marked.
struct Evidenced {
    std::vector<std::string> events;
    std::vector<std::int64_t> times;
};
Evidenced CaptureOf(const std::string& file, const std::string& from) {
    Evidenced e;
    std::ifstream in(file);
    int marking = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("# order uncertain")) marking = 2;
        if (line.starts_with("#")) continue;
        const Result<std::vector<CaptureEvent>> parsed =
            ParseCapture(std::string(kCaptureHeader) + "\n" + line + "\n");
        if (!parsed.ok() || parsed->size() != 1) continue;
        e.events.push_back(line.substr(28) +
                           (marking-- > 0 ? std::string(cli::kOrderUncertainMarker) : ""));
        e.times.push_back(parsed->front().unixMicros);
    }
    const auto last = std::find(e.events.rbegin(), e.events.rend(), from);
    const std::ptrdiff_t start =
        last == e.events.rend() ? 0 : std::prev(last.base()) - e.events.begin();
    e.events.erase(e.events.begin(), e.events.begin() + start);
    e.times.erase(e.times.begin(), e.times.begin() + start);
    return e;
}

}  // namespace

class TapTest : public QObject {
    Q_OBJECT

private slots:
    // The real programs on the simulated Y-cable: norva-cli as the host, and the tap. From the
    // acceptor's power-up on, the tap's log is the host's, its capture the host's bytes at the
    // host's times; it holds both lines for reading only, counts the answer the host sent after
    // the note was handed back, and its capture replays against a fresh host to the same answers.
    void tapOnTheSimulatedYCable() {
        TempCwd cwd;
        WriteFileBytes("session.sim",
                       "sleep 2500\npowerup\nsleep 700\ninsert 1\nsleep 800\ninsert 4\n"
                       "sleep 800\ninsert 3\nraw 11\nsleep 800\nstatus 21\nsleep 1700\n"
                       "status auto\ninsert 2\nsleep 900\n");
        const QString acceptor = cwd.path() + "/acceptor", tapHost = cwd.path() + "/tap-host",
                      tapDevice = cwd.path() + "/tap-device";
        Program sim =
            Sim({"--script", "session.sim", "--link", acceptor, "--tap-links", tapHost, tapDevice});
        QVERIFY(sim.WaitErr("tap links"));
        // The host first: the power-up the simulator sent as it started waits for the host alone.
        const QStringList policy{"--accept", "1-3", "--escrow", "accept:300"};
        Program host = Cli(QStringList{"--device", acceptor, "--capture", "host.cap"} + policy);
        QVERIFY(sim.WaitErr("enabled by the host"));
        Program tap = Cli({"--tap-host", tapHost, "--tap-device", tapDevice, "--capture", "tap.cap",
                           "--json", "--order-bound", QString::number(kOrderBoundMs)});
        QVERIFY(tap.WaitErr("tap: host"));
        QVERIFY2(tap.err().contains(QString("order within %1.000 ms").arg(kOrderBoundMs)),
                 qPrintable(tap.err()));
        QVERIFY2(sim.WaitErr("script session.sim done"), qPrintable(sim.err()));
        QCOMPARE(AccessModesOn(tap.pid(), tapHost.toStdString()), std::vector<int>{O_RDONLY});
        QCOMPARE(AccessModesOn(tap.pid(), tapDevice.toStdString()), std::vector<int>{O_RDONLY});
        host.Interrupt();
        QCOMPARE(host.Finished(), 0);
        // The tap has heard the host's last bytes once its log is as long as the host's.
        const std::size_t hostLines = FromLast(LogOf(host.out()), "Receive [0x80]").size();
        QVERIFY(tap.WaitOut([&](const QString& out) {
            return FromLast(LogOf(out), "Receive [0x80]").size() >= hostLines;
        }));
        tap.Interrupt();
        QCOMPARE(tap.Finished(), 0);
        sim.Interrupt();

        const std::vector<std::string> hostLog = FromLast(LogOf(host.out()), "Receive [0x80]"),
                                       tapLog = FromLast(LogOf(tap.out()), "Receive [0x80]");
        QVERIFY(hostLog.size() > 15);
        if (!SameButMarkedRuns(hostLog, tapLog)) {
            std::fprintf(stderr, "%s\n%s%s", qPrintable(SideBySide(hostLog, tapLog)),
                         ReadFileBytes("host.cap").c_str(), ReadFileBytes("tap.cap").c_str());
            QFAIL("the tap's log is not the host's");
        }
        const QJsonObject summary = tap.Summary();
        QCOMPARE(summary["late_answers"].toInt(), 1);  // channel 3: handed back, then accepted
        QCOMPARE(summary["stacked"]["total"].toInt(), 3);
        QCOMPARE(summary["refused"]["total"].toInt(), 1);
        QVERIFY(summary["refused"]["unticked"].isNull());

        const Evidenced hostCapture = CaptureOf("host.cap", "RX 80 8F"),
                        tapCapture = CaptureOf("tap.cap", "RX 80 8F");
        QVERIFY2(SameButMarkedRuns(hostCapture.events, tapCapture.events),
                 qPrintable(QString::fromStdString(ReadFileBytes("tap.cap"))));
        std::int64_t apart = 0;
        for (std::size_t i = 0; i < hostCapture.times.size(); ++i) {
            if (tapCapture.events[i] == hostCapture.events[i])
                apart = std::max(apart, std::abs(tapCapture.times[i] - hostCapture.times[i]));
        }
        qInfo("the captures' times at most %.3f ms apart", apart / 1000.0);
        QVERIFY(apart < kOrderBoundMs * 1000);

        Program replay = Sim({"--replay", "tap.cap", "--speed", "2"});
        Program fresh = Cli(QStringList{"--device", replay.PtyPath()} + policy);
        QCOMPARE(replay.Finished(60000), 0);
        QVERIFY2(replay.out().contains("differed 0"), qPrintable(replay.out().right(400)));
    }

    // The tap's refusals and ends, each with norva-cli's status and a clear reason; a run that
    // got going ends with its summary.
    void exitStatuses_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* tag, QStringList args, int status, const char* message) {
            QTest::newRow(tag) << args << status << QString(message);
        };
        const QStringList both{"--tap-host", "@host", "--tap-device", "@dev"};
        row("one line", {"--tap-host", "@host"}, 2, "a tap listens to two lines");
        row("a host's option", both + QStringList{"--escrow", "no-escrow"}, 2,
            "--escrow is for a host; a tap sends nothing");
        row("bad mode", both + QStringList{"--mode", "9600,Q,8,1"}, 2, "bad --mode '9600,Q,8,1'");
        row("mode without a tap", {"--device", "@host", "--mode", "9600,E,8,1"}, 2,
            "--mode is for a tap's lines");
        row("bad order bound", both + QStringList{"--order-bound", "0"}, 2,
            "bad --order-bound '0': expected 1 to 10000 ms");
        row("order bound without a tap", {"--device", "@host", "--order-bound", "50"}, 2,
            "--order-bound is for a tap's lines");
        row("capture a line", both + QStringList{"--capture", "@dev"}, 2,
            "Cannot create file @dev: it is the tap's device line");
        row("no such device", {"--tap-host", "@host", "--tap-device", "/dev/norva-none"}, 1,
            "/dev/norva-none: no such device");
        row("one device for both", {"--tap-host", "@host", "--tap-device", "@host"}, 1,
            "one device cannot hear both lines");
        row("silent", both + QStringList{"--silence", "1"}, 3, "The acceptor sent nothing for 1 s");
        row("pulled", both + QStringList{"--seconds", "3"}, 1, "/dev gone");
        row("a rival opens a line", both + QStringList{"--seconds", "3"}, 0,
            "/dev: also opened by ");
    }
    void exitStatuses() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        TempCwd cwd;
        PtyPair host;
        auto device = std::make_unique<PtyPair>();
        const QString hostLink = cwd.path() + "/host", deviceLink = cwd.path() + "/dev";
        QVERIFY(QFile::link(QString::fromStdString(host.slavePath()), hostLink));
        QVERIFY(QFile::link(QString::fromStdString(device->slavePath()), deviceLink));
        Program tap =
            Cli(args.replaceInStrings("@host", hostLink).replaceInStrings("@dev", deviceLink));
        std::unique_ptr<Program> rival;
        if (message.endsWith("gone")) {
            QVERIFY(tap.WaitErr("tap: host"));
            QFile::remove(deviceLink);
            device.reset();
        } else if (message.contains("also opened")) {
            QVERIFY(tap.WaitErr("tap: host"));
            rival = std::make_unique<Program>(
                "/bin/sh", QStringList{"-c", "exec sleep 10 <\"$0\"", deviceLink});
        }
        QCOMPARE(tap.Finished(), status);
        message.replace("@dev", deviceLink);
        // The rival is named as the /proc look finds it: the shell, or the program it became.
        if (rival)
            message = QRegularExpression::escape(message) + "(sh|sleep) \\(pid " +
                      QString::number(rival->pid()) + "\\)";
        else
            message = QRegularExpression::escape(message);
        QVERIFY2(tap.err().contains(QRegularExpression(message)), qPrintable(tap.err()));
        QCOMPARE(tap.err().contains("Usage: norva-cli"), status == 2 && !message.contains("file"));
        QCOMPARE(tap.out().contains("== summary"),
                 status == 0 || status == 3 || message.endsWith("gone"));
        QCOMPARE(tap.out().contains("stopped by port lost"), message.endsWith("gone"));
    }
};

QTEST_GUILESS_MAIN(TapTest)
#include "tst_tap.moc"
