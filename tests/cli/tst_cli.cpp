// norva-cli as a user runs it: against the real simulator process, on real pseudo-terminals.
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "pty_pair.h"
#include "temp_cwd.h"

namespace {

constexpr int kPatienceMs = 30000;

class Program {
public:
    Program(const QString& binary, const QStringList& args) {
        process_.start(binary, args);
        process_.waitForStarted(kPatienceMs);
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kPatienceMs);
        }
    }
    // The pseudo-terminal the simulator made, from its first line.
    QString PtyPath() {
        if (!process_.canReadLine()) process_.waitForReadyRead(kPatienceMs);
        return QString::fromUtf8(process_.readLine()).trimmed().section(' ', 1);
    }
    bool WaitErr(const QString& text) {
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < kPatienceMs;) {
            if (!t.isValid()) t.start();
            err_ += process_.readAllStandardError();
            if (err().contains(text)) return true;
            process_.waitForReadyRead(100);
        }
        return false;
    }
    void Interrupt() { ::kill(static_cast<pid_t>(process_.processId()), SIGINT); }
    // Exit status of a normal exit, or -1.
    int Finished(int ms = kPatienceMs) {
        if (!process_.waitForFinished(ms)) return -1;
        out_ += process_.readAllStandardOutput();
        err_ += process_.readAllStandardError();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString out() const { return QString::fromUtf8(out_); }
    QString err() const { return QString::fromUtf8(err_); }
    QJsonObject Summary() const {
        return QJsonDocument::fromJson(out_.mid(out_.lastIndexOf("\n{") + 1)).object();
    }

private:
    QProcess process_;
    QByteArray out_, err_;
};

Program Cli(const QStringList& args) {
    return Program(QStringLiteral(NORVA_CLI), args);
}
Program Sim(const QStringList& args) {
    return Program(QStringLiteral(NORVA_ACCEPTOR_SIM), args);
}

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

    // The decisions by policy, and the refusals the window makes: a channel not ticked, a
    // value that is not a number. SIGINT ends the run with the summary.
    void decisionsAndRefusals_data() {
        QTest::addColumn<QString>("escrow");
        QTest::addColumn<QString>("expected");
        QTest::newRow("accept after 200 ms")
            << "accept:200"
            << "stacked 1  ch1:1|credit 100|unticked 1, not a number 1|returned 2|"
               "rejected by policy 0";
        QTest::newRow("reject at once")
            << "reject:0"
            << "stacked 0|credit 0|unticked 1, not a number 1|returned 3|"
               "rejected by policy 1";
    }
    void decisionsAndRefusals() {
        QFETCH(QString, escrow);
        QFETCH(QString, expected);
        TempCwd cwd;
        WriteFileBytes("values.txt", "100\r\nabc\r\n500\r\n");
        WriteFileBytes("session.sim",
                       "sleep 1500\ninsert 1\nsleep 1500\ninsert 4\nsleep 1500\ninsert 2\n"
                       "sleep 1500\n");
        Program sim = Sim({"--script", "session.sim"});
        Program cli = Cli({"--device", sim.PtyPath(), "--values", "values.txt", "--escrow", escrow,
                           "--timestamps"});
        QVERIFY(sim.WaitErr("script session.sim done"));
        cli.Interrupt();
        QCOMPARE(cli.Finished(), 0);
        sim.Interrupt();
        for (const QString& part : expected.split('|'))
            QVERIFY2(cli.out().contains(part), qPrintable(part + "\n" + cli.out()));
        QVERIFY(cli.err().contains("'abc' is not a valid integer value"));
        QVERIFY(cli.out().contains("stopped by signal"));
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
        row("values missing", {"--port", "COM1", "--values", "none.txt"}, 2,
            "Cannot open file none.txt", false);
        row("no port", {"--notes", "3"}, 2, "name one port", false);
        row("no such device", {"--device", "/dev/norva-none"}, 1, "/dev/norva-none", false);
        row("silent", {"--device", "@pty", "--silence", "1"}, 3, "", true);
        row("pulled", {"--device", "@pty", "--seconds", "3"}, 1, "gone", true);
    }
    void exitStatuses() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(bool, summary);
        TempCwd cwd;
        PtyPair pty;
        QVERIFY(pty.ok());
        // Through a link of its own, as the simulator's --link makes one: a pulled device's
        // pseudo-terminal number may soon belong to another test's.
        const QString link = cwd.path() + QStringLiteral("/acceptor");
        QVERIFY(QFile::link(QString::fromStdString(pty.slavePath()), link));
        args.replaceInStrings("@pty", link);
        Program cli = Cli(args);
        if (message == "gone") {
            // Pulled once the first poll shows the port is open.
            QElapsedTimer waited;
            waited.start();
            while (pty.ReadUntilQuiet(100).empty() && waited.elapsed() < kPatienceMs) {
            }
            QFile::remove(link);
            pty.CloseMaster();
            pty.CloseSlave();
        }
        QCOMPARE(cli.Finished(), status);
        QVERIFY2(cli.err().contains(message), qPrintable(cli.err()));
        QCOMPARE(cli.err().contains("Usage: norva-cli"), status == 2);
        QCOMPARE(cli.out().contains("== summary"), summary);
    }
};

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
