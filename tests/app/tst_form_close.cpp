#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/startup.h"
#include "link/block_inbox.h"
#include "link/com_thread.h"
#include "modal_watcher.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

// Closing the main window with a port open and a receive thread busy on it.
class FormCloseTest : public QObject {
    Q_OBJECT

private slots:
    void stopsTheReceiveThreadBeforeReleasingThePort() {
        PtyPair pty;
        QVERIFY(pty.ok());
        const ScopedEnv com1("NORVA_COM1", pty.slavePath());
        ShownWindows windows;
        QVERIFY(windows.ready());
        QCOMPARE(Form1->Link().SelectPort(1).kind, norva::SelectionOutcome::Kind::Opened);
        QVERIFY(ComThread != nullptr);

        // More than the inbox holds while this thread takes nothing: the reader ends up waiting
        // for room, so stopping it takes a while. A watcher looks all through the close for a
        // released port with a receive thread still alive.
        std::atomic<std::size_t> written{0};
        std::jthread device([&] {
            const std::vector<std::uint8_t> chunk(1024, 0x00);
            while (written < norva::BlockInbox::kDefaultCapacityBytes * 2) {
                pty.Write(chunk);
                written += chunk.size();
            }
        });
        // Whatever an assertion does, the device gets to write its last byte, or the test could
        // not end.
        const auto letDeviceFinish = qScopeGuard([&] {
            QElapsedTimer draining;
            draining.start();
            while (written < norva::BlockInbox::kDefaultCapacityBytes * 2 &&
                   draining.elapsed() < 30000)
                pty.DrainSlave();
        });
        // Held back once the device can write no more for a while.
        QElapsedTimer clock;
        clock.start();
        for (std::size_t seen = 0; clock.elapsed() < 10000;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (written == seen && seen > norva::BlockInbox::kDefaultCapacityBytes) break;
            seen = written;
        }
        QVERIFY(written > norva::BlockInbox::kDefaultCapacityBytes);
        std::atomic<bool> watching{true};
        std::atomic<bool> sawPortReleased{false};
        std::jthread watcher([&] {
            while (watching) {
                if (!norva::ComHandle.IsOpen() && norva::RS232::LiveCount() > 0)
                    sawPortReleased = true;
            }
        });
        const auto stopWatching = qScopeGuard([&] { watching = false; });

        MessageBoxWatcher boxes;
        QVERIFY(Form1->windowHandle()->close());

        QVERIFY(ComThread == nullptr);
        QCOMPARE(norva::RS232::LiveCount(), 0);
        QVERIFY(!sawPortReleased);
        QCOMPARE(norva::ComHandle.state(), norva::PortHandle::State::NotOpen);
        QVERIFY(!Form1->isVisible());
        QVERIFY(boxes.boxes.empty());
    }
};

QTEST_MAIN(FormCloseTest)
#include "tst_form_close.moc"
