#include <QTest>
#include <QWindow>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/startup.h"
#include "link/com_thread.h"
#include "modal_watcher.h"
#include "pty_pair.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

// Closing the main window with a port open and a receive thread busy on it.
class FormCloseTest : public QObject {
    Q_OBJECT

private slots:
    void stopsTheReceiveThreadBeforeReleasingThePort() {
        TempCwd cwd;
        WriteFileBytes("BILLVALUE.TXT", DefaultBillValueBytes());
        PtyPair pty;
        QVERIFY(pty.ok());
        ::setenv("NORVA_COM1", pty.slavePath().c_str(), 1);
        QCOMPARE(norva::OpenComPort(&norva::ComHandle, "COM1", "9600,E,8,1"), norva::kOpened);
        norva::CreateWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));

        // The receive side stays inside its handling until told to stop, looking at the port
        // all the while: a port released under it would be seen.
        std::atomic<bool> handling{false};
        std::atomic<bool> sawPortReleased{false};
        ComThread =
            std::make_unique<norva::RS232>(norva::ComHandle, [&](const norva::ReceivePass& pass) {
                handling = true;
                while (!pass.stopRequested) {
                    if (!norva::ComHandle.IsOpen()) sawPortReleased = true;
                    std::this_thread::yield();
                }
                if (!norva::ComHandle.IsOpen()) sawPortReleased = true;
            });
        pty.Write({0x3E});
        QTRY_VERIFY(handling);

        MessageBoxWatcher watcher;
        QVERIFY(Form1->windowHandle()->close());

        QVERIFY(ComThread == nullptr);
        QCOMPARE(norva::RS232::LiveCount(), 0);
        QVERIFY(!sawPortReleased);
        QCOMPARE(norva::ComHandle.state(), norva::PortHandle::State::NotOpen);
        QVERIFY(!Form1->isVisible());
        QVERIFY(watcher.boxes.empty());
        DestroyWindows();
    }
};

QTEST_MAIN(FormCloseTest)
#include "tst_form_close.moc"
