// A capture played back by the real simulator to a host end on the real pseudo-terminal.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>

#include <QFileInfo>

#include "host_end.h"
#include "pty_pair.h"
#include "sim_process.h"

namespace {

// A session as the capture keeps it: a power-up answered, a poll, a note in escrow answered,
// the note stacked lastGapMs later. Times are milliseconds after 03:14:15 that day.
QByteArray Capture(const char* escrowAnswer, int lastGapMs, const char* brokenLine = nullptr) {
    const auto at = [](int ms) {
        return QByteArray("2026-12-09T03:14:") +
               QByteArray::number(15 + ms / 1000).rightJustified(2, '0') + "." +
               QByteArray::number(ms % 1000 * 1000).rightJustified(6, '0') + "Z";
    };
    QByteArray text =
        "# norva-protocol traffic capture\n"
        "# port COM1 /dev/pts/9 9600,E,8,1\n";
    text += at(0) + " RX 80 8F\n";
    if (brokenLine) text += QByteArray(brokenLine) + "\n";
    text += at(60) + " TX 02\n";
    text += at(500) + " TX 0C\n";
    text += at(560) + " RX 81 8F 40\n";
    text += at(620) + " TX " + escrowAnswer + "\n";
    text += at(560 + lastGapMs) + " RX 10\n";
    return text;
}

// RX lines of count blocks of size bytes each, all recorded at the same moment.
QByteArray Blocks(int count, int size) {
    QByteArray line = "2026-12-09T03:14:15.000000Z RX" + QByteArray(" 21").repeated(size) + "\n";
    return "# norva-protocol traffic capture\n" + line.repeated(count);
}

QString WriteCapture(const QTemporaryDir& dir, const QByteArray& capture) {
    const QString path = dir.filePath("capture.txt");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(capture);
    return path;
}

struct Bench {
    std::optional<std::uint8_t> escrowAnswer = 0x02;
    std::optional<std::uint8_t> extraAfterPowerUp;
};

struct Outcome {
    int status = -1;
    QString out;
    QString err;
    qint64 lastGapMs = -1;  // between the escrow message and the stacked note, as received
};

// Plays the bench's part until the simulator exits: answers as the protocol asks, and polls
// once after the power-up.
// On a real device (a pseudo-terminal of the test's own) when asked, else on the simulator's
// pseudo-terminal through its link.
Outcome Replay(const QByteArray& capture, const Bench& bench, const QString& speed = "1",
               bool device = false) {
    QTemporaryDir dir;
    const QString file = dir.filePath("session.txt");
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(capture);
    f.close();
    const QString link = dir.filePath("acceptor");

    PtyPair line;
    QProcess sim;
    sim.start(QStringLiteral(NORVA_ACCEPTOR_SIM),
              {"--replay", file, device ? "--device" : "--link",
               device ? QString::fromStdString(line.slavePath()) : link, "--speed", speed});
    Outcome outcome;
    if (sim.waitForReadyRead(kPatienceMs) && sim.canReadLine()) {
        outcome.out = QString::fromUtf8(sim.readLine());
        const int host = device ? line.master() : OpenHostEnd(link.toStdString());
        QElapsedTimer clock;
        clock.start();
        qint64 escrowAt = -1;
        while (host >= 0 && !sim.waitForFinished(10) && clock.elapsed() < 4 * kPatienceMs) {
            const Bytes got = ReadAvailable(host);
            if (got.empty()) continue;
            Bytes answer;
            if (got.size() >= 2 && got[0] == 0x80 && got[1] == 0x8F) {
                answer = {0x02, 0x0C};
                if (bench.extraAfterPowerUp) answer.push_back(*bench.extraAfterPowerUp);
            } else if (got.size() >= 3 && got[0] == 0x81 && got[1] == 0x8F) {
                escrowAt = clock.elapsed();
                if (bench.escrowAnswer) answer = {*bench.escrowAnswer};
            } else if (got[0] == 0x10 && escrowAt >= 0) {
                outcome.lastGapMs = clock.elapsed() - escrowAt;
            }
            WriteBytes(host, answer);
        }
        if (host >= 0 && !device) ::close(host);
    }
    sim.waitForFinished(kPatienceMs);
    if (sim.exitStatus() == QProcess::NormalExit) outcome.status = sim.exitCode();
    outcome.out += QString::fromUtf8(sim.readAllStandardOutput());
    outcome.err = QString::fromUtf8(sim.readAllStandardError()).replace(file, "FILE");
    return outcome;
}

}  // namespace

class SimReplayTest : public QObject {
    Q_OBJECT

private slots:
    void replayJudgesTheHostsAnswers_data() {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<int>("escrowAnswer");  // -1: the bench keeps quiet
        QTest::addColumn<int>("extra");         // -1: none
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("device");

        const QString powerUp = " << 02   capture 02   match";
        const QString polls = "polls set aside: 1 in the capture, 1 from the host";
        QTest::newRow("all match") << Capture("02", 300) << 0x02 << -1 << 0
                                   << QStringList{">> 80 8F",
                                                  powerUp,
                                                  " << 0C   poll, set aside",
                                                  ">> 81 8F 40",
                                                  ">> 10",
                                                  "replay: answers matched 2, differed 0; " + polls}
                                   << false;
        QTest::newRow("capture edited to expect a reject")
            << Capture("0F", 300) << 0x02 << -1 << 5
            << QStringList{powerUp, " << 02   capture 0F   DIFFERS",
                           "replay: answers matched 1, differed 1; " + polls}
            << false;
        QTest::newRow("answer missing")
            << Capture("02", 300) << -1 << -1 << 5
            << QStringList{" << --   capture 02   DIFFERS",
                           "replay: answers matched 1, differed 1; " + polls}
            << false;
        QTest::newRow("answer not in the capture")
            << Capture("02", 300) << 0x02 << 0x30 << 5
            << QStringList{" << 30   capture --   DIFFERS",
                           "replay: answers matched 2, differed 1; " + polls}
            << false;
        QTest::newRow("answers after the last block")
            << Capture("02", 300) +
                   "2026-12-09T03:14:17.000000Z RX 80 8F\n2026-12-09T03:14:17.060000Z TX 02\n"
            << 0x02 << -1 << 0
            << QStringList{" >> 80 8F", powerUp,
                           "replay: answers matched 3, differed 0; polls set aside: 1 in the "
                           "capture, 2 from the host"}
            << false;
        QTest::newRow("all match on a device")
            << Capture("02", 300) << 0x02 << -1 << 0
            << QStringList{powerUp, " << 02   capture 02   match",
                           "replay: answers matched 2, differed 0; " + polls}
            << true;
    }

    void replayJudgesTheHostsAnswers() {
        QFETCH(QByteArray, capture);
        QFETCH(int, escrowAnswer);
        QFETCH(int, extra);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        QFETCH(bool, device);
        Bench bench;
        bench.escrowAnswer.reset();
        if (escrowAnswer >= 0) bench.escrowAnswer = std::uint8_t(escrowAnswer);
        if (extra >= 0) bench.extraAfterPowerUp = std::uint8_t(extra);

        const Outcome outcome = Replay(capture, bench, "1", device);
        QVERIFY2(outcome.out.startsWith(device ? "device /dev/pts/" : "pty /dev/pts/"),
                 qPrintable(outcome.out));
        qsizetype from = 0;
        for (const QString& line : lines) {
            const qsizetype at = outcome.out.indexOf(line, from);
            QVERIFY2(at >= 0, qPrintable("missing '" + line + "' in order:\n" + outcome.out));
            from = at + line.size();
        }
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.lastGapMs >= 280, qPrintable(QString::number(outcome.lastGapMs)));
    }

    // Only lower bounds are safe on a busy machine, and one generous upper bound.
    void speedScalesTheRecordedGaps() {
        const Outcome slow = Replay(Capture("02", 300), Bench{}, "0.25");
        QCOMPARE(slow.status, 0);
        QVERIFY2(slow.lastGapMs >= 1150, qPrintable(QString::number(slow.lastGapMs)));

        const Outcome fast = Replay(Capture("02", 6000), Bench{}, "10");
        QCOMPARE(fast.status, 0);
        QVERIFY2(fast.lastGapMs >= 550 && fast.lastGapMs < 4000,
                 qPrintable(QString::number(fast.lastGapMs)));
    }

    // Bytes that never reached a host are no successful replay.
    void undeliveredReplayFails() {
        const struct {
            QByteArray capture;
            bool hostOpens;
            QString why;
        } rows[] = {
            {Blocks(2, 3), false, "; no host opened the line"},
            {Blocks(1, 100000), true, "; 1 blocks not delivered whole"},
        };
        for (const auto& row : rows) {
            QTemporaryDir dir;
            const QString link = dir.filePath("acceptor");
            Sim sim({"--replay", WriteCapture(dir, row.capture), "--link", link});
            QVERIFY(sim.NextLine().startsWith("pty "));
            const int host = row.hostOpens ? OpenHostEnd(link.toStdString()) : -1;
            QCOMPARE(sim.Finished(), 5);
            if (host >= 0) ::close(host);
            QVERIFY2(sim.RestOfOut().contains(row.why), qPrintable(row.why));
        }
    }

    // A host that does not read never holds up a stop; the link goes whichever way it ends,
    // also when a second signal follows the first before the replay could see it.
    void stopSignalsEndAReplayAtOnce() {
        const struct {
            std::vector<int> sent;
            std::vector<int> ended;  // an exit status, or the signal that ended it negated
        } rows[] = {
            {{SIGINT}, {5}},
            {{SIGINT, SIGTERM}, {-SIGINT, -SIGTERM}},  // the later of the two ends it
        };
        for (const auto& row : rows) {
            QTemporaryDir dir;
            const QString link = dir.filePath("acceptor");
            Sim sim({"--replay", WriteCapture(dir, Blocks(30, 5000)), "--link", link, "--speed",
                     "1000"});
            QVERIFY(sim.NextLine().startsWith("pty "));
            const int host = OpenHostEnd(link.toStdString());
            QVERIFY(sim.WaitOut(">> 21"));  // the line is full from here on
            sim.Signal(SIGSTOP);
            for (const int signal : row.sent)
                sim.Signal(signal);
            sim.Signal(SIGCONT);
            const int ended = sim.Finished();
            QVERIFY2(std::count(row.ended.begin(), row.ended.end(), ended) == 1,
                     qPrintable(QString::number(ended)));
            ::close(host);
            QVERIFY(!QFileInfo(link).isSymLink());
        }
    }

    void badCaptureNamesItsLine() {
        QProcess sim;
        QTemporaryDir dir;
        const struct {
            QByteArray capture;
            QString error;
        } rows[] = {
            {Capture("02", 300, "2026-12-09T03:14:15.010000Z TX 02 0F"),
             "norva-acceptor-sim: FILE:4: a TX line holds exactly one byte\n"},
            {Capture("02", 300, "RX 80 8F"),
             "norva-acceptor-sim: FILE:4: bad time 'RX': expected one such as "
             "2026-12-09T03:14:15.123456Z\n"},
            {"# norva-protocol traffic capture\n2026-12-09T03:14:15.010000Z TX 02\n",
             "norva-acceptor-sim: FILE: no RX line to play\n"},
        };
        for (const auto& row : rows) {
            const Outcome outcome = Replay(row.capture, Bench{});
            QCOMPARE(outcome.status, 4);
            QCOMPARE(outcome.err, row.error);
            QVERIFY(outcome.out.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(SimReplayTest)
#include "tst_sim_replay.moc"
