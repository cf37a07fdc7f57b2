#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "child_process.h"
#include "link/acceptor_link.h"
#include "link/com_thread.h"
#include "protocol/shared_state.h"
#include "pty_pair.h"
#include "recording_window.h"
#include "scoped_env.h"
#include "serial/port_exclusion.h"
#include "temp_cwd.h"

using norva::AcceptorLink;
using norva::SelectionOutcome;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Keeps the traffic as one text per event, in order.
struct TrafficRecord : norva::TrafficSink {
    void PortOpened(std::int64_t t, const norva::PortIdentity& port) override {
        events.push_back("open " + port.portName + " " + port.devicePath + " " + port.modeString);
        times.push_back(t);
    }
    void Received(std::int64_t t, std::span<const std::uint8_t> block) override {
        events.push_back("in " + std::to_string(block.size()));
        times.push_back(t);
    }
    void Sent(std::int64_t t, std::uint8_t byte) override {
        events.push_back("out " + std::to_string(byte));
        times.push_back(t);
    }
    std::vector<std::string> events;
    std::vector<std::int64_t> times;
};

// A device path that can be pulled and plugged back: a symbolic link to a pty's slave.
struct PluggableDevice {
    explicit PluggableDevice(std::string linkPath) : path(std::move(linkPath)) { Plug(); }
    void Plug() {
        pty = std::make_unique<PtyPair>();
        ::unlink(path.c_str());
        (void)::symlink(pty->slavePath().c_str(), path.c_str());
    }
    void Pull() {
        ::unlink(path.c_str());
        pty.reset();
    }
    std::string path;
    std::unique_ptr<PtyPair> pty;
};

// What the device side receives within a few seconds, the engine running meanwhile.
Bytes Answered(const PtyPair& pty, std::size_t count) {
    Bytes got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && timer.elapsed() < 5000) {
        QCoreApplication::processEvents();
        const Bytes more = pty.ReadCount(count - got.size(), 10);
        got.insert(got.end(), more.begin(), more.end());
    }
    return got;
}

// "opened", or the reason the open failed.
std::string OpenedOr(const SelectionOutcome& outcome) {
    return outcome.kind == SelectionOutcome::Kind::Opened ? "opened" : outcome.text;
}

qint64 MillisecondsOf(const std::function<void()>& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    return timer.elapsed();
}

}  // namespace

class AcceptorLinkTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        norva::PollPermitted = 1;
        norva::EscrowPending = 0;
        norva::AwaitingDecision = 0;
        norva::NoteCount = 0;
    }
    void cleanup() {
        while (!mappings_.empty())
            mappings_.pop_back();  // the latest first, so each puts back what was there
        QCOMPARE(norva::RS232::LiveCount(), 0);
    }

    // A line that never goes quiet for 50 ms: a port change and a close still return at once,
    // and what was read before is handled.
    void neverQuietLineStopsAtOnce() {
        TempCwd cwd;
        PtyPair pty;
        Map("NORVA_COM1", pty.slavePath());
        RecordingWindow window;
        AcceptorLink link(window);
        std::atomic<bool> streaming{true};
        std::jthread stream([&] {
            while (streaming) {
                pty.Write({0x00});
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const auto stopStream = qScopeGuard([&] { streaming = false; });
        for (const char* step : {"port change", "close"}) {
            QCOMPARE(OpenedOr(link.SelectPort(1)), std::string("opened"));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::size_t before = link.Engine().bytesHandled();
            // Without the stop reaching the read this waits for 4999 bytes: 25 s at this rate.
            const qint64 ms = MillisecondsOf([&] {
                if (std::string(step) == "close")
                    link.Close();
                else
                    link.SelectPort(1);
            });
            QVERIFY2(ms < 1000, qPrintable(QStringLiteral("%1: %2 ms").arg(step).arg(ms)));
            QVERIFY2(link.Engine().bytesHandled() > before, step);
        }
    }

    // The device goes away and comes back on the same path, twice, once with a note in escrow:
    // the link says so, reopens by itself, answers again, credits the note once, tells the sinks
    // of every reopening and leaves comm.ini alone.
    void pulledDeviceComesBack() {
        TempCwd cwd;
        PluggableDevice device(cwd.path().toStdString() + "/ttyUSB0");
        Map("NORVA_COM1", device.path);
        RecordingWindow window;
        window.captions[0] = "500";
        AcceptorLink link(window);
        TrafficRecord record;
        link.AddTrafficSink(&record);
        QSignalSpy gone(&link, &AcceptorLink::DeviceGone);
        QSignalSpy back(&link, &AcceptorLink::DeviceBack);
        QCOMPARE(OpenedOr(link.SelectPort(1)), std::string("opened"));
        WriteFileBytes("comm.ini", "left alone\r\n");

        for (int round = 1; round <= 2; ++round) {
            device.pty->Write({0x80, 0x8F});
            QCOMPARE(Answered(*device.pty, 1), Bytes{0x02});
            if (round == 1) {
                device.pty->Write({0x81, 0x8F, 0x40});
                QTRY_VERIFY(window.acceptEnabled);
            }
            device.Pull();
            QTRY_COMPARE(gone.count(), round);
            QCOMPARE(gone.last().at(0).toString(),
                     "Com1: " + QString::fromStdString(device.path) + " gone");
            QVERIFY(link.waitingForDevice());
            device.Plug();
            QTRY_COMPARE(back.count(), round);
            QCOMPARE(back.last().at(0).toString(),
                     "Com1: " + QString::fromStdString(device.path) + " back");
            QVERIFY(!link.waitingForDevice());
            device.pty->Write({0x80, 0x8F});
            QCOMPARE(Answered(*device.pty, 1), Bytes{0x02});
            if (round == 1) {
                link.Commands().Accept();
                QCOMPARE(Answered(*device.pty, 1), Bytes{0x02});
                device.pty->Write({0x10});
                QTRY_COMPARE(window.displays[2], 500);
            }
        }
        QCOMPARE(window.displays[0], 1);
        QCOMPARE(window.displays[2], 500);
        QCOMPARE(ReadFileBytes("comm.ini"), std::string("left alone\r\n"));
        const std::string opened = "open COM1 " + device.path + " 9600,E,8,1";
        const std::vector<std::string> expected{opened,  "in 2",  "out 2", "in 3", opened,
                                                "in 2",  "out 2", "out 2", "in 1", "in 2",
                                                "out 2", opened,  "in 2",  "out 2"};
        QCOMPARE(record.events, expected);
        QVERIFY(std::is_sorted(record.times.begin(), record.times.end()));
        link.Close();
    }

    // A pseudo-terminal's own name goes to the next one made anywhere: the link says its line
    // is gone but leaves the new pseudo-terminal with that name to whoever made it.
    void ptyNameIsNotTakenBack() {
        auto pty = std::make_unique<PtyPair>();
        const std::string path = pty->slavePath();
        RecordingWindow window;
        AcceptorLink link(window);
        QSignalSpy gone(&link, &AcceptorLink::DeviceGone);
        QCOMPARE(OpenedOr(link.OpenDirect("", path)), std::string("opened"));
        pty.reset();
        QTRY_COMPARE(gone.count(), 1);
        std::vector<std::unique_ptr<PtyPair>> made;  // the lowest free number comes first
        while (made.size() < 16 && (made.empty() || made.back()->slavePath() != path))
            made.push_back(std::make_unique<PtyPair>());
        if (made.back()->slavePath() != path) QSKIP("another program took the number");
        QTest::qWait(300);  // a link that looked for it would have it by now
        norva::PortHandle mine;
        const auto opened = norva::OpenDevice(&mine, path, "9600,E,8,1");
        QVERIFY2(opened.ok(), opened.Describe().c_str());
        QVERIFY(link.waitingForDevice());
    }

    // While the link waits for a device, a new selection or a close ends the wait at once.
    void waitEndsOnSelectionAndClose() {
        TempCwd cwd;
        PluggableDevice device(cwd.path().toStdString() + "/ttyACM0");
        PtyPair other;
        Map("NORVA_COM1", device.path);
        Map("NORVA_COM2", other.slavePath());
        RecordingWindow window;
        AcceptorLink link(window);
        QSignalSpy gone(&link, &AcceptorLink::DeviceGone);
        for (const char* step : {"selection", "close"}) {
            QCOMPARE(OpenedOr(link.SelectPort(1)), std::string("opened"));
            device.Pull();
            QTRY_VERIFY(link.waitingForDevice());
            const qint64 ms = MillisecondsOf([&] {
                if (std::string(step) == "close")
                    link.Close();
                else
                    QCOMPARE(OpenedOr(link.SelectPort(2)), std::string("opened"));
            });
            QVERIFY2(ms < 1000, step);
            QVERIFY(!link.waitingForDevice());
            QCOMPARE(link.receiving(), std::string(step) == "selection");
            device.Plug();
        }
        QCOMPARE(gone.count(), 2);
    }

    // Links on ports of their own run side by side: each answers its own device, one going
    // leaves the other receiving and the window's slot alone, and each polls by its own timer.
    void twoLinksSideBySide() {
        PtyPair a;
        PtyPair b;
        RecordingWindow windowA;
        RecordingWindow windowB;
        AcceptorLink linkA(windowA);
        linkA.PublishReceiveThread(ComThread);
        norva::PortHandle portB;
        auto linkB = std::make_unique<AcceptorLink>(windowB, portB);
        QCOMPARE(OpenedOr(linkA.OpenDirect("", a.slavePath())), std::string("opened"));
        QCOMPARE(OpenedOr(linkB->OpenDirect("", b.slavePath())), std::string("opened"));
        const norva::RS232* windowsThread = ComThread;
        a.Write({0x80, 0x8F});
        b.Write({0x80, 0x8F});
        QCOMPARE(Answered(a, 1), Bytes{0x02});
        QCOMPARE(Answered(b, 1), Bytes{0x02});
        linkB.reset();
        QVERIFY(windowsThread != nullptr && ComThread == windowsThread);
        a.Write({0xA1});
        QCOMPARE(Answered(a, 1), Bytes{0x02});
        linkA.PollTimer()->start(5);
        QCOMPARE(Answered(a, 2), (Bytes{0x0C, 0x0C}));
        linkA.Close();
        QCOMPARE(ComThread, nullptr);
    }

    // Each reason for a refused open, made for real; the held device is held by another process
    // that has only the slave open, once with our lock folders and once without any.
    void openFailureReasons() {
        TempCwd cwd;
        PtyPair pty;
        RecordingWindow window;
        AcceptorLink link(window);
        const auto reasonFor = [&](const std::string& path) {
            Map("NORVA_COM1", path);
            const SelectionOutcome outcome = link.SelectPort(1);
            return outcome.kind == SelectionOutcome::Kind::OpenFailed ? outcome.text : "opened";
        };
        const std::string missing = cwd.path().toStdString() + "/ttyUSB9";
        QCOMPARE(reasonFor(missing), missing + ": no such device");
        QCOMPARE(reasonFor("/dev/null"), std::string("/dev/null: not a serial device"));

        ChildProcess holder([&](int report) {
            ::close(pty.master());
            ::close(pty.slave());
            ::prctl(PR_SET_NAME, "slaveholder");
            const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
            ChildProcess::Tell(report, fd >= 0 ? "r" : "f");
            ::pause();
        });
        QCOMPARE(holder.Report(), std::string("r"));
        const std::string busy = pty.slavePath() + ": busy, in use by slaveholder (pid " +
                                 std::to_string(holder.pid()) + ")";
        QCOMPARE(reasonFor(pty.slavePath()), busy);
        const std::vector<std::string> saved = norva::UucpLockFolders();
        norva::UucpLockFolders().clear();
        QCOMPARE(reasonFor(pty.slavePath()), busy);
        norva::UucpLockFolders() = saved;
        holder.Kill();
        QCOMPARE(reasonFor(pty.slavePath()), std::string("opened"));
        link.Close();

        if (::geteuid() != 0) QSKIP("permission denied needs an unprivileged user made here");
        // A group that may open it, as dialout may open a real port.
        QCOMPARE(::chown(pty.slavePath().c_str(), 0, 20), 0);
        ::chmod(pty.slavePath().c_str(), 0660);
        const std::string denied = RunInChild(
            [&] {
                Map("NORVA_COM1", pty.slavePath());
                return norva::OpenPort(&norva::ComHandle, "COM1", "9600,E,8,1").text();
            },
            true);
        struct stat node {};
        QCOMPARE(::stat(pty.slavePath().c_str(), &node), 0);
        const std::string group = ::getgrgid(node.st_gid)->gr_name;
        QCOMPARE(denied, pty.slavePath() + ": permission denied (group " + group +
                             "); join the group (sudo usermod -aG " + group +
                             " $USER), then log out and in");
    }

    // While the link holds the port, another process is refused even as root, and is told who
    // holds it; the UUCP lock file exists only while the port is held.
    void heldPortRefusesSecondOpen() {
        TempCwd cwd;
        QVERIFY(QDir().mkdir("lock"));
        const std::vector<std::string> saved = norva::UucpLockFolders();
        norva::UucpLockFolders() = {cwd.path().toStdString() + "/lock"};
        PtyPair pty;
        QVERIFY(pty.ok());
        Map("NORVA_COM1", pty.slavePath());
        // The bench holds the port in a child: this process plays the device on the master.
        ChildProcess bench([&](int report) {
            ::close(pty.master());
            ::prctl(PR_SET_NAME, "bench");
            norva::PortHandle held;
            const auto opened = norva::OpenPort(&held, "COM1", "9600,E,8,1");
            ChildProcess::Tell(report, opened.ok() ? "o" : opened.text());
            ::pause();
        });
        QCOMPARE(bench.Report(), std::string("o"));
        const std::string lockFile =
            cwd.path().toStdString() + "/lock/" + norva::LockFileName(pty.slavePath());
        QCOMPARE(std::stoi(ReadFileBytes(lockFile)), int(bench.pid()));
        const std::string expected =
            pty.slavePath() + ": busy, in use by bench (pid " + std::to_string(bench.pid()) + ")";
        for (bool withLockFolders : {true, false}) {
            if (!withLockFolders) norva::UucpLockFolders().clear();
            norva::PortHandle second;
            const auto refused = norva::OpenPort(&second, "COM1", "9600,E,8,1");
            QVERIFY(!refused.ok());
            QCOMPARE(refused.text(), expected);
        }
        bench.Kill();
        // Its lock is stale now and is taken over, then removed when the port is let go.
        norva::UucpLockFolders() = {cwd.path().toStdString() + "/lock"};
        norva::PortHandle port;
        QCOMPARE(norva::OpenComPort(&port, "COM1", "9600,E,8,1"), norva::kOpened);
        QCOMPARE(std::stoi(ReadFileBytes(lockFile)), int(::getpid()));
        norva::CloseComPort(&port);
        QVERIFY(!QFile::exists(QString::fromStdString(lockFile)));
        norva::UucpLockFolders() = saved;
    }

private:
    // Maps a port for this test; cleanup puts the environment back.
    void Map(const char* name, const std::string& path) {
        mappings_.push_back(std::make_unique<ScopedEnv>(name, path));
    }

    std::vector<std::unique_ptr<ScopedEnv>> mappings_;
};

QTEST_GUILESS_MAIN(AcceptorLinkTest)
#include "tst_acceptor_link.moc"
