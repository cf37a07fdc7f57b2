#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "app/port_selector_help.h"
#include "app/startup.h"
#include "modal_watcher.h"
#include "port_fixture.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

using Bytes = std::vector<std::uint8_t>;

// Picking a port on the real window: comm.ini, the open, the receive thread, the engine.
class PortSelectionTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        cwd_ = std::make_unique<TempCwd>();
        WriteFileBytes("BILLVALUE.TXT", DefaultBillValueBytes());
        norva::CreateWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        Form1->Timer1->stop();  // polls would only add noise on the line
        strays_ = std::make_unique<StrayBoxes>();
    }
    void cleanup() {
        const QStringList strays = std::exchange(strays_, {})->texts;
        DestroyWindows();
        QCOMPARE(norva::RS232::LiveCount(), 0);
        norva::ReleaseComPort(&norva::ComHandle);
        cwd_.reset();
        QVERIFY2(strays.isEmpty(), qPrintable(strays.join('\n')));
    }

    void pickOpensWritesAndAnswers() {
        PtyPair pty;
        PortMapping mapping(3, pty.slavePath());
        PickItem(Form1->ComboBox1, "Com3");
        QCOMPARE(ReadFileBytes("comm.ini"),
                 std::string("[COMMAND]\r\nPORT=COM3\r\nCOMM=9600,E,8,1\r\n"));
        QCOMPARE(Form1->StatusBar1->PanelText(1), QString("Com3"));
        QVERIFY(norva::ComHandle.IsOpen());
        QCOMPARE(norva::RS232::LiveCount(), 1);
        termios line{};
        ::tcgetattr(pty.slave(), &line);
        QCOMPARE(cfgetospeed(&line), speed_t(B9600));

        pty.Write({0x80, 0x8F});
        QVERIFY(DeviceReceives(pty, 0x02));
        QTRY_COMPARE(LogText(Form1), QString("Receive [0x80]\nReceive [0x8F]\nSend      [0x02]"));
        QCOMPARE(Form1->Label2->text(), QString("Linking Now"));
        QCOMPARE(Form1->StatusBar1->PanelText(2), QString("Linking"));
        QCOMPARE(Form1->BitBtn5->text(), QString("Enable BA"));

        // A burst with 30 ms gaps is one block; a trial the machine itself stretched past the
        // quiet time proves nothing and is repeated.
        bool oneBlock = false;
        QElapsedTimer trials;
        trials.start();
        while (!oneBlock && trials.elapsed() < 20000) {
            const std::size_t before = Form1->Engine().blocksHandled();
            const std::size_t bytesBefore = Form1->Engine().bytesHandled();
            QElapsedTimer gap;
            bool stretched = false;
            for (std::uint8_t b : {0x20, 0x21, 0x22, 0x23}) {
                if (gap.isValid()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(30));
                    stretched = stretched || gap.elapsed() >= 45;
                }
                pty.Write({b});
                gap.start();
            }
            // The log of an earlier trial ends the same way: wait for this trial's bytes.
            QTRY_COMPARE(Form1->Engine().bytesHandled(), bytesBefore + 4);
            QVERIFY(LogText(Form1).endsWith(
                "Receive [0x20]\nReceive [0x21]\nReceive [0x22]\nReceive [0x23]"));
            oneBlock = !stretched && Form1->Engine().blocksHandled() == before + 1;
            if (!stretched) QCOMPARE(Form1->Engine().blocksHandled(), before + 1);
        }
        QVERIFY(oneBlock);
    }

    void pickingTheSamePortAgainReopensIt() {
        PtyPair pty;
        PortMapping mapping(3, pty.slavePath());
        PickItem(Form1->ComboBox1, "Com3");
        const int started = norva::RS232::StartedCount();
        QVERIFY(QFile::remove("comm.ini"));
        PickItem(Form1->ComboBox1, "Com3");
        QVERIFY(QFile::exists("comm.ini"));
        QCOMPARE(norva::RS232::StartedCount(), started + 1);
        QCOMPARE(norva::RS232::LiveCount(), 1);
        pty.Write({0xA1});
        QVERIFY(DeviceReceives(pty, 0x02));
    }

    // The selector acts on exactly the typed text: once at "Com1", again at "Com10", and never
    // for other capitals, Enter or leaving the box.
    void typingOpensOnExactText() {
        PtyPair one;
        PtyPair ten;
        PortMapping map1(1, one.slavePath());
        PortMapping map10(10, ten.slavePath());
        const int started = norva::RS232::StartedCount();
        TypeInto(Form1->ComboBox1, "Com1");
        QTest::keyClick(Form1->ComboBox1->lineEdit(), Qt::Key_Return);
        Form1->BitBtn1->setFocus();
        Form1->ComboBox1->lineEdit()->setFocus();
        Form1->ComboBox1->lineEdit()->end(false);
        QCOMPARE(norva::RS232::StartedCount(), started + 1);
        QCOMPARE(Form1->StatusBar1->PanelText(1), QString("Com1"));
        norva::PortHandle probe;
        QCOMPARE(norva::OpenComPort(&probe, "COM1", "9600,E,8,1"), norva::kOpenFailed);

        QTest::keyClick(Form1->ComboBox1->lineEdit(), Qt::Key_0);
        QCOMPARE(norva::RS232::StartedCount(), started + 2);
        QCOMPARE(Form1->StatusBar1->PanelText(1), QString("Com10"));
        QCOMPARE(norva::OpenComPort(&probe, "COM1", "9600,E,8,1"), norva::kOpened);  // released
        norva::ReleaseComPort(&probe);
        QCOMPARE(norva::OpenComPort(&probe, "COM10", "9600,E,8,1"), norva::kOpenFailed);

        for (const char* typed : {"com1", "COM10", "Com 1", "Com0", "Comport  Select"}) {
            const QString other = QString::fromLatin1(typed);
            TypeInto(Form1->ComboBox1, other);
            QTest::keyClick(Form1->ComboBox1->lineEdit(), Qt::Key_Return);
            Form1->BitBtn1->setFocus();
            QCOMPARE(Form1->ComboBox1->currentText(), other);
        }
        QCOMPARE(norva::RS232::StartedCount(), started + 2);
        QCOMPARE(Form1->StatusBar1->PanelText(1), QString("Com10"));
        QVERIFY(norva::ComHandle.IsOpen());
    }

    void missingPortShowsTheNotice() {
        PtyPair pty;
        PortMapping map3(3, pty.slavePath());
        PortMapping map2(2, "/nonexistent/serial");
        PickItem(Form1->ComboBox1, "Com3");
        MessageBoxWatcher boxes;
        PickItem(Form1->ComboBox1, "Com2");
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text, QString("The COMPort open error !"));
        QCOMPARE(boxes.boxes[0].title, QString("Norva Protocol "));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::NoIcon);
        QCOMPARE(Form1->StatusBar1->PanelText(1), QString("Com2"));
        QCOMPARE(Form1->StatusBar1->PanelText(3), QString("/nonexistent/serial: no such device"));
        QCOMPARE(norva::ComHandle.state(), norva::PortHandle::State::Failed);
        QCOMPARE(norva::RS232::LiveCount(), 0);
        // The earlier port was released first.
        norva::PortHandle probe;
        QCOMPARE(norva::OpenComPort(&probe, "COM3", "9600,E,8,1"), norva::kOpened);
    }

    void commIniThatCannotBeWritten() {
        PtyPair pty;
        PortMapping mapping(3, pty.slavePath());
        PickItem(Form1->ComboBox1, "Com3");
        QVERIFY(QFile::remove("comm.ini"));
        QVERIFY(QDir().mkdir("comm.ini"));
        MessageBoxWatcher boxes;
        PickItem(Form1->ComboBox1, "Com4");
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text, QString("Cannot create file comm.ini."));
        QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(norva::ComHandle.state(), norva::PortHandle::State::NotOpen);
        QCOMPARE(norva::RS232::LiveCount(), 0);
        QCOMPARE(Form1->StatusBar1->PanelText(1), QString("Com3"));
    }

    // The cable pulled, while bytes flow and while idle: the program stays calm and idle, and
    // picking again (also a device path deleted and made anew) works.
    void pulledCableAndReplacedDevice() {
        QTemporaryDir links;
        const std::string link = (links.path() + "/acceptor").toStdString();
        PortMapping mapping(4, link);
        for (bool flowing : {true, false}) {
            auto pty = std::make_unique<PtyPair>();
            QVERIFY(::symlink(pty->slavePath().c_str(), link.c_str()) == 0);
            PickItem(Form1->ComboBox1, "Com4");
            QVERIFY(norva::ComHandle.IsOpen());
            // The device side pulls its own cable, mid-stream or after a quiet spell.
            std::thread device([&pty, flowing] {
                for (int i = 0; flowing && i < 200; ++i)
                    pty->Write({0x20, 0x21, 0x22});
                pty->CloseSlave();
                pty->CloseMaster();
            });
            device.join();
            QTRY_COMPARE(Form1->StatusBar1->PanelText(3),
                         QString::fromStdString("Com4: " + link + " gone"));
            // Waiting for the device costs nothing: a spinning thread would fill this window.
            const double before = ProcessCpuMs();
            QTest::qWait(600);
            QVERIFY2(ProcessCpuMs() - before < 300, "a vanished device keeps the program busy");
            QCOMPARE(norva::RS232::LiveCount(), 1);

            QVERIFY(::unlink(link.c_str()) == 0);
            pty = std::make_unique<PtyPair>();
            QVERIFY(::symlink(pty->slavePath().c_str(), link.c_str()) == 0);
            PickItem(Form1->ComboBox1, "Com4");
            QVERIFY(norva::ComHandle.IsOpen());
            pty->Write({0x80, 0x8F});
            QVERIFY(DeviceReceives(*pty, 0x02));
            QVERIFY(::unlink(link.c_str()) == 0);
        }
    }

    // A device given to a port through the selector's context menu reaches ports.conf, and the
    // item's tooltip names it from then on.
    void menuGivesDeviceToPort() {
        QTemporaryDir root;
        const ScopedEnv config("XDG_CONFIG_HOME", root.path().toStdString());
        const std::string dev = root.path().toStdString() + "/dev";
        QVERIFY(QDir().mkpath(QString::fromStdString(dev)));
        WriteFileBytes(dev + "/ttyUSB0", "");
        auto* help = Form1->ComboBox1->findChild<norva::PortSelectorHelp*>();
        QVERIFY(help != nullptr);
        help->SetDeviceRoots({dev, root.path().toStdString() + "/sys"});
        std::unique_ptr<QMenu> menu(help->CreateMenu());
        QAction* give = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->menu() == nullptr || !action->text().contains("ttyUSB0")) continue;
            for (QAction* port : action->menu()->actions())
                if (port->text() == "Com5") give = port;
        }
        QVERIFY(give != nullptr);
        give->trigger();
        QCOMPARE(ReadFileBytes(root.path().toStdString() + "/norva-protocol/ports.conf"),
                 "COM5=" + dev + "/ttyUSB0\n");
        QCOMPARE(Form1->ComboBox1->itemData(4, Qt::ToolTipRole).toString(),
                 QString::fromStdString("Com5 \u2192 " + dev + "/ttyUSB0, present"));
        QCOMPARE(Form1->ComboBox1->count(), 10);
        QCOMPARE(Form1->ComboBox1->currentText(), QString("Comport  Select"));
    }

private:
    std::unique_ptr<TempCwd> cwd_;
    std::unique_ptr<StrayBoxes> strays_;
};

QTEST_MAIN(PortSelectionTest)
#include "tst_port_selection.moc"
