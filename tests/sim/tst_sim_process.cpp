// The real executable: its pseudo-terminal and link, a real device, scripts, and how it fails.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "pty_pair.h"
#include "sim_process.h"

namespace {

const Bytes kPowerUp{0x80, 0x8F};

struct HostEnd {
    explicit HostEnd(const QString& path) : fd(OpenHostEnd(path.toStdString())) {}
    ~HostEnd() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

}  // namespace

class SimProcessTest : public QObject {
    Q_OBJECT

private slots:
    // The host opens and closes the pseudo-terminal as it likes; the device never notices.
    void ptyServesOneHostSessionAfterAnother() {
        QTemporaryDir dir;
        const QString link = dir.filePath("acceptor");
        Sim sim({"--link", link});
        const QString first = sim.NextLine();
        const auto match = QRegularExpression(R"(^pty (/dev/pts/\d+)$)").match(first);
        QVERIFY2(match.hasMatch(), qPrintable(first));
        QCOMPARE(QFileInfo(link).symLinkTarget(), match.captured(1));

        for (int session = 0; session < 3; ++session) {
            const int host = OpenHostEnd(link.toStdString());
            QVERIFY(host >= 0);
            // The power-up message waits for the first host to read it.
            if (session == 0) QCOMPARE(ReadBytes(host, 2), kPowerUp);
            WriteBytes(host, {0x0C});
            QCOMPARE(ReadBytes(host, 1), Bytes{0x3E});
            ::close(host);
        }
        QVERIFY(sim.WaitOut("<< 0C"));
        QVERIFY(sim.WaitOut(">> 3E"));
        const QRegularExpression traffic(R"(^ *\d+\.\d{3} (>>|<<) [0-9A-F]{2}( [0-9A-F]{2})*$)");
        for (const QString& line : sim.out()) {
            QVERIFY2(traffic.match(line).hasMatch(), qPrintable(line));
            // Nothing of the device's own comes back to it as an echo.
            if (line.contains("<<")) QVERIFY2(line.endsWith("<< 0C"), qPrintable(line));
        }

        sim.Type("frobnicate");
        QVERIFY(sim.WaitErr("unknown command 'frobnicate'"));
        const int host = OpenHostEnd(link.toStdString());
        WriteBytes(host, {0x0C});
        QCOMPARE(ReadBytes(host, 1), Bytes{0x3E});
        ::close(host);
        QVERIFY2(!sim.err().contains("hung up"), qPrintable(sim.err()));

        sim.Type("quit");
        QCOMPARE(sim.Finished(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    void linkReplacedWhenStaleRemovedOnSigterm() {
        QTemporaryDir dir;
        const QString link = dir.filePath("acceptor");
        QVERIFY(::symlink("/dev/pts/nonexistent", link.toLocal8Bit().constData()) == 0);
        Sim sim({"--link", link});
        const QString first = sim.NextLine();
        QVERIFY2(first.startsWith("pty /dev/pts/"), qPrintable(first));
        QCOMPARE(QFileInfo(link).symLinkTarget(), first.mid(4));
        sim.Terminate();
        QCOMPARE(sim.Finished(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());

        // Anything but a symbolic link is left alone.
        QFile plain(link);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("keep");
        plain.close();
        Sim refused({"--link", link});
        QCOMPARE(refused.Finished(), 3);
        QVERIFY2(refused.err().contains("exists and is not a symbolic link"),
                 qPrintable(refused.err()));
        QVERIFY(plain.open(QIODevice::ReadOnly));
        QCOMPARE(plain.readAll(), QByteArray("keep"));
    }

    void realDeviceSetUpAndLost() {
        PtyPair line;
        QVERIFY(line.ok());
        Sim sim({"--device", QString::fromStdString(line.slavePath())});
        QCOMPARE(sim.NextLine(), "device " + QString::fromStdString(line.slavePath()));
        QCOMPARE(line.ReadCount(2, kPatienceMs), kPowerUp);

        termios t{};
        QVERIFY(::tcgetattr(line.slave(), &t) == 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        // A pseudo-terminal keeps no parity; ConfigureDeviceLine's own test covers that bit.
        QCOMPARE(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS | CLOCAL), tcflag_t(CS8 | CLOCAL));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
        QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));

        line.Write({0x5E, 0x0C});
        QCOMPARE(line.ReadCount(1, kPatienceMs), Bytes{0x5E});

        line.CloseMaster();
        QCOMPARE(sim.Finished(), 1);
        QVERIFY2(sim.err().contains("serial device lost"), qPrintable(sim.err()));
    }

    // The way a run script or an end-to-end test drives it: a script, then exit.
    void scriptRunsThenExits() {
        QTemporaryDir dir;
        const QString path = dir.filePath("bench.sim");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# wake the host up\nraw 2F\n\nsleep 20\npowerup  # again\n");
        file.close();
        Sim sim({"--script", path, "--exit-after-script"});
        QVERIFY(sim.NextLine().startsWith("pty "));
        QCOMPARE(sim.Finished(), 0);
        const QStringList rest = sim.RestOfOut().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rest.size(), 3);
        QVERIFY(rest[0].endsWith(" >> 80 8F"));
        QVERIFY(rest[1].endsWith(" >> 2F"));
        QVERIFY(rest[2].endsWith(" >> 80 8F"));
        QVERIFY(sim.err().contains("script " + path + " done"));

        Sim piped({"--exit-on-eof"});
        piped.Type("raw 10");
        piped.Type("sleep 20");
        piped.EndInput();
        QCOMPARE(piped.Finished(), 0);
        QVERIFY(piped.RestOfOut().contains(" >> 10\n"));
    }

    // Anything but a regular file is refused at once by name, never opened or read.
    void specialFilesRefused() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo");
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        const struct {
            QStringList args;
            QString error;
        } rows[] = {
            {{"--script", dir.path()}, dir.path() + ": cannot read the script: a folder"},
            {{"--script", fifo}, fifo + ": cannot read the script: a FIFO"},
            {{"--script", "/dev/zero"}, "/dev/zero: cannot read the script: a character device"},
            {{"--replay", "/dev/zero"}, "/dev/zero: cannot read: a character device"},
            {{"--replay", "/dev/urandom"}, "/dev/urandom: cannot read: a character device"},
            {{"--replay", fifo}, fifo + ": cannot read: a FIFO"},
        };
        for (const auto& row : rows) {
            Sim sim(row.args);
            QCOMPARE(sim.Finished(), 4);
            QCOMPARE(sim.err(), "norva-acceptor-sim: " + row.error + "\n");
        }
    }

    // An overlong line is skipped and the next one runs; input without line ends is let go.
    void standardInputLinesBounded() {
        Sim typed({"--exit-on-eof"});
        typed.Type(QByteArray(70000, 'x'));
        typed.Type("raw 10");
        typed.EndInput();
        QCOMPARE(typed.Finished(), 0);
        QVERIFY2(typed.err().contains("stdin:1: longer than 65536 bytes, skipped"),
                 qPrintable(typed.err()));
        QVERIFY(typed.RestOfOut().contains(" >> 10\n"));

        Sim zeros({"--exit-on-eof"}, "/dev/zero");
        QCOMPARE(zeros.Finished(), 0);
        QVERIFY2(zeros.err().contains("stdin: no line end in 1048576 bytes"),
                 qPrintable(zeros.err()));
    }

    // Each tap carries what passed, in order; one that is never read loses bytes and counts them,
    // and the device answers every poll all the same.
    void tapLinksCarryCopiesNeverStalling() {
        QTemporaryDir dir;
        const QString link = dir.filePath("acceptor");
        const QString hostTap = dir.filePath("host-tap");
        const QString deviceTap = dir.filePath("device-tap");
        Bytes sent, answers, heardCopy;
        {
            Sim sim({"--link", link, "--tap-links", hostTap, deviceTap});
            QVERIFY(sim.NextLine().startsWith("pty "));
            const HostEnd host(link), heard(hostTap), deaf(deviceTap);
            QCOMPARE(ReadBytes(host.fd, 2), kPowerUp);
            for (int round = 0; round < 100; ++round) {
                Bytes polls;
                for (int i = 0; i < 500; ++i)
                    polls.insert(polls.end(), {std::uint8_t(i % 2 ? 0x5E : 0x3E), 0x0C});
                WriteBytes(host.fd, polls);
                sent.insert(sent.end(), polls.begin(), polls.end());
                const Bytes got = ReadBytes(host.fd, 500);
                answers.insert(answers.end(), got.begin(), got.end());
                sim.Drain();
                const Bytes copy = ReadAvailable(heard.fd);
                heardCopy.insert(heardCopy.end(), copy.begin(), copy.end());
            }
            const Bytes rest = ReadBytes(heard.fd, sent.size() - heardCopy.size());
            heardCopy.insert(heardCopy.end(), rest.begin(), rest.end());
            QVERIFY(sim.WaitErr("tap " + deviceTap + ": its reader is not keeping up"));
            // What the tap holds is read to a mark sent last: a pty hands bytes on a little later
            // than they were written, so "what is there now" may still lack some. Its backlog is
            // read until it rests, then the reset's power-up is the mark.
            Bytes deafCopy;
            for (Bytes more = ReadAvailable(deaf.fd); !more.empty();
                 more = ReadBytes(deaf.fd, 1 << 16, 200))
                deafCopy.insert(deafCopy.end(), more.begin(), more.end());
            WriteBytes(host.fd, {0x30});
            QCOMPARE(ReadBytes(host.fd, 2), kPowerUp);
            const auto marked = [&] {
                return deafCopy.size() >= 2 &&
                       Bytes(deafCopy.end() - 2, deafCopy.end()) == kPowerUp;
            };
            for (int round = 0; round < 50 && !marked(); ++round) {
                const Bytes more = ReadBytes(deaf.fd, 1 << 16, 100);
                deafCopy.insert(deafCopy.end(), more.begin(), more.end());
            }
            QVERIFY(marked());
            deafCopy.resize(deafCopy.size() - 2);
            // The first power-up passed before or after the tap was opened.
            if (deafCopy.size() >= 2 && Bytes(deafCopy.begin(), deafCopy.begin() + 2) == kPowerUp)
                deafCopy.erase(deafCopy.begin(), deafCopy.begin() + 2);

            QCOMPARE(answers.size(), std::size_t(50000));
            for (std::size_t i = 0; i < answers.size(); ++i)
                QCOMPARE(answers[i], std::uint8_t(i % 2 ? 0x5E : 0x3E));
            QCOMPARE(heardCopy, sent);
            QVERIFY(!deafCopy.empty() && deafCopy.size() < answers.size());
            // Dropped where the tap was full, and the kernel may make room again between two of
            // the device's writes: what the deaf tap got is the answers with gaps, in order.
            std::size_t matched = 0;
            for (std::size_t i = 0; i < answers.size() && matched < deafCopy.size(); ++i)
                if (answers[i] == deafCopy[matched]) ++matched;
            QCOMPARE(matched, deafCopy.size());
            sim.Terminate();
            QCOMPARE(sim.Finished(), 0);
            QVERIFY(sim.err().contains(QString("tap %1: %2 bytes dropped in all")
                                           .arg(deviceTap)
                                           .arg(answers.size() - deafCopy.size())));
        }
        for (const QString& path : {link, hostTap, deviceTap})
            QVERIFY(!QFileInfo(path).isSymLink());
    }

    // A reader that stops reading standard output holds up the device, never a stop signal.
    void stopNeverWaitsForAPausedReader() {
        QTemporaryDir dir;
        const QString link = dir.filePath("acceptor");
        const QString out = dir.filePath("out");
        QVERIFY(::mkfifo(out.toLocal8Bit().constData(), 0600) == 0);
        const int paused = ::open(out.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        Sim sim({"--link", link}, {}, out);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), kPatienceMs);
        const HostEnd host(link);
        // Polls until the answers stop: the device waits for its standard output.
        bool stalled = false;
        for (int round = 0; round < 500 && !stalled; ++round) {
            WriteBytes(host.fd, Bytes(100, 0x0C));
            stalled = ReadBytes(host.fd, round == 0 ? 102 : 100, 300).size() < 100;
        }
        QVERIFY(stalled);
        sim.Signal(SIGINT);
        QCOMPARE(sim.Finished(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        ::close(paused);
    }

    void badInvocations() {
        Sim missing({"--device", "/nonexistent/ttyS9"});
        QCOMPARE(missing.Finished(), 3);
        QVERIFY2(missing.err().contains("cannot open /nonexistent/ttyS9: No such file"),
                 qPrintable(missing.err()));
        QVERIFY(missing.RestOfOut().isEmpty());

        Sim notTty({"--device", "/dev/null"});
        QCOMPARE(notTty.Finished(), 3);
        QVERIFY2(notTty.err().contains("/dev/null: not a serial device"), qPrintable(notTty.err()));

        Sim unknown({"--baud", "19200"});
        QCOMPARE(unknown.Finished(), 2);
        QVERIFY2(unknown.err().contains("unknown option '--baud'"), qPrintable(unknown.err()));

        QTemporaryDir dir;
        const QString path = dir.filePath("broken.sim");
        Sim unreadable({"--script", path});
        QCOMPARE(unreadable.Finished(), 4);
        QVERIFY(unreadable.err().contains(path + ": cannot read the script"));

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("insert 1\n# fine so far\ninsert 20\n");
        file.close();
        Sim broken({"--script", path, "--exit-after-script"});
        QCOMPARE(broken.Finished(), 4);
        QVERIFY2(broken.err().contains(path + ":3: bad channel '20': expected 1 to 16"),
                 qPrintable(broken.err()));
        QVERIFY(broken.RestOfOut().isEmpty());

        Sim help({"--help"});
        QCOMPARE(help.Finished(), 0);
        const QString usage = help.RestOfOut();
        QVERIFY(usage.contains("Exit status") && usage.contains("insert N"));
    }
};

QTEST_GUILESS_MAIN(SimProcessTest)
#include "tst_sim_process.moc"
