// norva-cli as a user runs it: against the real simulator process, on real pseudo-terminals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include "cli_programs.h"
#include "pty_pair.h"
#include "temp_cwd.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes all of the bytes unless the other end takes nothing for the test's patience.
bool WriteWithin(const PtyPair& pty, const Bytes& bytes) {
    ::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
    std::size_t done = 0;
    for (pollfd p{pty.master(), POLLOUT, 0};
         done < bytes.size() && ::poll(&p, 1, kPatienceMs) == 1;)
        done += std::max<ssize_t>(0, ::write(pty.master(), &bytes[done], bytes.size() - done));
    return done == bytes.size();
}

// Reads what the program sends until the byte comes, within the test's patience.
bool ReadUntil(const PtyPair& pty, std::uint8_t byte) {
    for (QDeadlineTimer patience(kPatienceMs); !patience.hasExpired();) {
        if (pty.ReadCount(1, 100) == Bytes{byte}) return true;
    }
    return false;
}

// A fresh working folder with a values file, an old capture, a FIFO and a folder, and a
// pseudo-terminal reached through a link of its own ("@pty" in arguments and messages): a
// pulled device's pseudo-terminal number may soon belong to another test's.
struct Bench {
    Bench() {
        WriteFileBytes("BILLVALUE.TXT", "5\n");
        WriteFileBytes("values.txt", "100\n");
        WriteFileBytes("old.cap", "old\n");
        ::mkfifo("fifo", 0600);
        QDir().mkdir("folder");
        QFile::link(QString::fromStdString(pty.slavePath()), link);
    }
    QStringList Fill(QStringList args) const { return args.replaceInStrings("@pty", link); }
    bool Untouched() const {
        return ReadFileBytes("values.txt") == "100\n" && ReadFileBytes("old.cap") == "old\n";
    }
    bool PolledOnce() const { return !pty.ReadCount(1, kPatienceMs).empty(); }  // port open

    TempCwd cwd;
    PtyPair pty;
    QString link = cwd.path() + QStringLiteral("/acceptor");
};

}  // namespace

class CliTest : public QObject {
    Q_OBJECT

private slots:
    // Notes on random channels, each accepted at once: the tallies agree with what the
    // simulator says it stacked, and the capture of the run replays to the same answers.
    void soakAgreesWithTheSimulatorAndReplays() {
        TempCwd cwd;  // no BILLVALUE.TXT: channel n is worth n
        Program sim = Sim({"--soak", "5", "--seed", "11"});
        Program cli = Cli({"--device", sim.PtyPath(), "--escrow", "no-escrow", "--accept", "1-16",
                           "--notes", "50", "--json", "--capture", "run.cap"});
        QCOMPARE(cli.Finished(120000), 0);
        sim.Interrupt();
        QCOMPARE(sim.Finished(), 0);

        std::array<int, 17> stacked{};
        const QRegularExpression note("note on channel (\\d+) stacked");
        for (auto m = note.globalMatch(sim.err()); m.hasNext();)
            ++stacked[static_cast<std::size_t>(m.next().captured(1).toInt())];
        int credit = 0;
        const QJsonObject summary = cli.Summary();
        const QJsonObject channels = summary["stacked"].toObject()["channels"].toObject();
        for (int c = 1; c <= 16; ++c) {
            QCOMPARE(channels[QString::number(c)].toInt(), stacked[static_cast<std::size_t>(c)]);
            credit += c * stacked[static_cast<std::size_t>(c)];
        }
        QCOMPARE(summary["stacked"].toObject()["total"].toInt(), 50);
        QCOMPARE(summary["credit"].toInt(), credit);
        QCOMPARE(summary["power_ups"].toInt(), 1);
        // Timed from the block's last byte: no answer can come before the line's quiet gap.
        const QJsonObject latency = summary["answer_latency_ms"].toObject();
        QCOMPARE(latency["count"].toInt(), 51);  // the power-up and 50 notes; enabling is no answer
        QVERIFY(latency["p50"].toDouble() >= 50.0);
        QVERIFY(cli.err().contains("Cannot open file BILLVALUE.TXT"));

        Program replay = Sim({"--replay", "run.cap", "--speed", "4"});
        Program host = Cli({"--device", replay.PtyPath(), "--escrow", "no-escrow", "--accept",
                            "1-16", "--notes", "50"});
        QCOMPARE(replay.Finished(120000), 0);
        QVERIFY2(replay.out().contains("differed 0"), qPrintable(replay.out().right(300)));
        QCOMPARE(host.Finished(), 0);
    }

    // Every kind of outcome: notes stacked, returned, refused as the window refuses them (a
    // channel not ticked, a value that is not a number), rejected by the policy, status codes
    // and power-ups. The summary, read from the traffic, counts what the simulator says it did.
    // SIGINT ends the run with the summary.
    void everyOutcomeAsTheSimulatorCountsIt_data() {
        QTest::addColumn<QString>("escrow");
        QTest::addColumn<int>("credit");
        QTest::addColumn<int>("rejected");
        QTest::newRow("accept after 200 ms") << "accept:200" << 600 << 0;
        QTest::newRow("reject at once") << "reject:0" << 0 << 2;
    }
    void everyOutcomeAsTheSimulatorCountsIt() {
        QFETCH(QString, escrow);
        QFETCH(int, credit);
        QFETCH(int, rejected);
        TempCwd cwd;
        // Channel 1 is worth 100, channel 2 is no number, channel 3 is worth 500; 4 not ticked.
        WriteFileBytes("values.txt", "100\r\na\x1b[2Jc\r\n500\r\n");
        WriteFileBytes("session.sim",
                       "sleep 1500\ninsert 1\nsleep 1200\ninsert 4\nsleep 1200\ninsert 2\n"
                       "sleep 1200\ninsert 3\nsleep 1200\nstatus 21\nsleep 1700\nstatus auto\n"
                       "powerup\nsleep 1600\n");
        Program sim = Sim({"--script", "session.sim"});
        Program cli = Cli({"--device", sim.PtyPath(), "--values", "values.txt", "--escrow", escrow,
                           "--timestamps", "--json"});
        QVERIFY(sim.WaitErr("script session.sim done"));
        cli.Interrupt();
        QCOMPARE(cli.Finished(), 0);
        sim.Interrupt();
        QCOMPARE(sim.Finished(), 0);

        // What the simulator says it did: its notes, and every block it sent.
        QJsonObject stacked;
        int stackedTotal = 0, returned = 0, powerUps = 0;
        const QRegularExpression note("note on channel (\\d+) (stacked|returned)");
        for (auto m = note.globalMatch(sim.err()); m.hasNext();) {
            const auto match = m.next();
            if (match.captured(2) == "returned") {
                ++returned;
                continue;
            }
            stacked[match.captured(1)] = stacked[match.captured(1)].toInt() + 1;
            ++stackedTotal;
        }
        QJsonObject codes;
        const QRegularExpression sent(" >> ([0-9A-F ]+)$", QRegularExpression::MultilineOption);
        for (auto m = sent.globalMatch(sim.out()); m.hasNext();) {
            const QString block = m.next().captured(1);
            if (block == "80 8F") ++powerUps;
            if (QRegularExpression("^(2[0-9]|3E|5E|71)$").match(block).hasMatch())
                codes["0x" + block] = codes["0x" + block].toInt() + 1;
        }
        const QJsonObject summary = cli.Summary();
        QCOMPARE(summary["stacked"]["channels"].toObject(), stacked);
        QCOMPARE(summary["stacked"]["total"].toInt(), stackedTotal);
        QCOMPARE(summary["credit"].toInt(), credit);
        QCOMPARE(summary["returned"].toInt(), returned);
        QCOMPARE(summary["refused"].toObject(),
                 (QJsonObject{{"unticked", 1}, {"not_a_number", 1}}));
        QCOMPARE(summary["rejected_by_policy"].toInt(), rejected);
        QCOMPARE(returned, 2 + rejected);
        QCOMPARE(summary["status_codes"].toObject(), codes);
        QVERIFY(codes["0x21"].toInt() >= 1);
        QCOMPARE(summary["power_ups"].toInt(), powerUps);
        QCOMPARE(powerUps, 2);
        QCOMPARE(summary["escrow_hold_ms"]["count"].toInt(), 4);     // every note decided once
        QCOMPARE(summary["answer_latency_ms"]["count"].toInt(), 4);  // 2 power-ups, 2 refusals
        QCOMPARE(summary["stopped_by"].toString(), QString("signal"));
        // The escape sequence from the file reaches the terminal escaped.
        QVERIFY(cli.err().contains("'a\\x1B[2Jc' is not a valid integer value"));
        const QRegularExpression stamped(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}Z "
            "Receive \\[0x80\\]$",
            QRegularExpression::MultilineOption);
        QVERIFY(stamped.match(cli.out()).hasMatch());
    }

    // Each exit status made for real; bad values get a clear message, never a crash. A run
    // that got going ends with its summary; one whose port never opened has none.
    void exitStatuses_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("summary");
        const auto row = [](const char* tag, QStringList args, int status, const char* message,
                            bool summary) {
            QTest::newRow(tag) << args << status << QString(message) << summary;
        };
        row("channel 17", {"--port", "COM1", "--accept", "1,17"}, 2, "bad --accept list '1,17'",
            false);
        row("negative poll", {"--port", "COM1", "--poll", "-5"}, 2, "bad --poll '-5'", false);
        row("unknown option", {"--port", "COM1", "--pol=5"}, 2, "Unknown option 'pol'", false);
        row("no port", {"--notes", "3"}, 2, "name one port", false);
        row("no such device", {"--device", "/dev/norva-none"}, 1, "/dev/norva-none", false);
        row("silent", {"--device", "@pty", "--silence", "1"}, 3,
            "The acceptor sent nothing for 1 s", true);
        row("pulled", {"--device", "@pty", "--seconds", "3"}, 1, "gone", true);
    }
    void exitStatuses() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(bool, summary);
        Bench bench;
        Program cli = Cli(bench.Fill(args));
        if (message == "gone") {
            QVERIFY(bench.PolledOnce());
            QFile::remove(bench.link);
            bench.pty.CloseMaster();
            bench.pty.CloseSlave();
        }
        QCOMPARE(cli.Finished(), status);
        QVERIFY2(cli.err().contains(message), qPrintable(cli.err()));
        QCOMPARE(cli.err().contains("Usage: norva-cli"), status == 2);
        QCOMPARE(cli.out().contains("== summary"), summary);
        // What stopped the run and the status agree.
        QCOMPARE(cli.out().contains("stopped by port lost"), summary && status == 1);
    }

    // A file the arguments name that cannot be used is named with the reason alone, and
    // nothing is overwritten: not the device, not the values, not an old capture.
    void namedFilesAreRefusedAlone_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* tag, QStringList args, int status, const char* message) {
            QTest::newRow(tag) << args << status << QString(message);
        };
        row("values FIFO", {"--device", "@pty", "--values", "fifo"}, 2,
            "Cannot open file fifo: a FIFO");
        row("values folder", {"--device", "@pty", "--values", "folder"}, 2,
            "Cannot open file folder: a folder");
        row("values missing", {"--port", "COM1", "--values", "none.txt"}, 2,
            "Cannot open file none.txt: No such file or directory");
        row("capture the device", {"--device", "@pty", "--capture", "@pty"}, 2,
            "Cannot create file @pty: it is the serial device");
        row("capture the values",
            {"--device", "@pty", "--values", "values.txt", "--capture", "values.txt"}, 2,
            "Cannot create file values.txt: it is the --values file");
        row("failed start", {"--device", "/dev/norva-none", "--capture", "old.cap"}, 1,
            "The COMPort open error ! /dev/norva-none: no such device");
    }
    void namedFilesAreRefusedAlone() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        Bench bench;
        Program cli = Cli(bench.Fill(args));
        QCOMPARE(cli.Finished(), status);
        QCOMPARE(
            cli.err(),
            message.replace("@pty", bench.link).prepend(status == 2 ? "norva-cli: " : "") + "\n");
        QVERIFY(bench.Untouched());
        QCOMPARE(QDir(".").entryList(QDir::Hidden | QDir::Files).filter(".tmp"), QStringList());
    }

    // Any duration accepted runs (a timer takes at most 24.8 days at once); beyond a year it
    // is refused.
    void durationsAtTheirLimits_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("seconds past a timer's range")
            << QStringList{"--seconds", "2147484"} << 0 << "stopped by signal";
        QTest::newRow("silence of a year")
            << QStringList{"--silence", "31622400"} << 0 << "stopped by signal";
        QTest::newRow("a fraction") << QStringList{"--seconds", "0.3"} << 0 << "stopped by seconds";
        QTest::newRow("seconds beyond a year")
            << QStringList{"--seconds", "31622401"} << 2 << "bad --seconds '31622401'";
    }
    void durationsAtTheirLimits() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, expected);
        Bench bench;
        Program cli = Cli(bench.Fill(QStringList{"--device", "@pty", "--poll", "100"} + args));
        if (expected == "stopped by signal") {
            QVERIFY(bench.PolledOnce());
            cli.Interrupt();
        }
        QCOMPARE(cli.Finished(), status);
        QVERIFY2((cli.out() + cli.err()).contains(expected), qPrintable(cli.out() + cli.err()));
        QVERIFY(!cli.err().contains("negative"));
    }

    // Standard output that cannot be written is reported with the reason, the summary then goes
    // to standard error and the status is 5; a reader that stops reading holds up nothing: the
    // acceptor is still answered. A capture that fails mid-run is named, in the summary too.
    void outputThatCannotBeWritten_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("reader");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const char* script, const char* reader, int status,
                            const char* expected) {
            QTest::newRow(tag) << QString(script) << QString(reader) << status << QString(expected);
        };
        row("closed", "<&- >&-", "", 5, "standard output: closed");
        row("full", ">/dev/full", "", 5, "standard output: No space left on device");
        row("head -c 10", ">fifo", "head", 5, "standard output: Broken pipe");
        row("stalled reader", ">fifo", "stall", 5, "standard output took nothing for 2 s");
        row("capture on a full disk", "ulimit -f 1;", "", 4,
            "Stream write error: run.cap: File too large");
    }
    void outputThatCannotBeWritten() {
        QFETCH(QString, script);
        QFETCH(QString, reader);
        QFETCH(int, status);
        QFETCH(QString, expected);
        Bench bench;
        // Opened before norva-cli opens its end; read as the row says, or not at all.
        int fifo = reader.isEmpty() ? -1 : ::open("fifo", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const auto closeFifo = qScopeGuard([&fifo] { ::close(fifo); });
        Program cli = ShellCli(
            script, bench.Fill(QStringList{"--device", "@pty", "--poll", "20", "--no-enable",
                                           "--capture", "run.cap", "--json", "--seconds"}) +
                        QStringList{reader == "stall" ? "600" : "1.5"});
        if (reader == "head") {
            pollfd p{fifo, POLLIN, 0};
            char ten[10];
            QVERIFY(::poll(&p, 1, kPatienceMs) == 1 && ::read(fifo, ten, 10) > 0);
            ::close(std::exchange(fifo, -1));
        }
        if (reader == "stall") {
            // Far more lines than the pipe and the buffer hold, then a power-up to answer.
            QVERIFY(bench.PolledOnce());
            const Bytes statusCodes(4999, 0x20);
            for (int block = 0; block < 20; ++block)
                QVERIFY(WriteWithin(bench.pty, statusCodes));
            QVERIFY(WriteWithin(bench.pty, {0x80, 0x8F}));
            QVERIFY(ReadUntil(bench.pty, 0x02));
            cli.Interrupt();
        }
        QCOMPARE(cli.Finished(), status);
        QVERIFY2(cli.err().contains(expected), qPrintable(cli.err().right(2000)));
        // The summary reaches one stream or the other, and counts what was lost.
        const QJsonObject summary = cli.Summary();
        QVERIFY2(summary.contains("lines_dropped"), qPrintable(cli.err().right(2000)));
        QVERIFY2((summary["lines_dropped"].toInt() > 0) == (status == 5),
                 qPrintable(cli.err().right(2000)));
        QCOMPARE(summary["capture"]["error"].toString(), status == 4 ? expected : QString());
    }
};

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
