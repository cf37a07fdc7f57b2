#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "app/startup.h"
#include "child_process.h"
#include "modal_watcher.h"
#include "port_fixture.h"
#include "protocol/shared_state.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

namespace {

// The acceptor's side of the story: a note accepted by the operator, one the host refuses
// because its channel is not ticked, one the operator rejects. The pauses leave the operator
// (this test) ample time even on a loaded machine.
constexpr char kScript[] =
    "# power-up goes out at start; the operator enables the acceptor meanwhile\n"
    "sleep 5000\n"
    "insert 1\n"
    "sleep 3000\n"
    "insert 4\n"
    "sleep 3000\n"
    "insert 2\n"
    "sleep 3000\n";

// Both fronts against the same acceptor: refusals, a power cycle, notes taken at once.
constexpr char kSharedScript[] =
    "sleep 4000\n"
    "insert 1\n"
    "sleep 1500\n"
    "insert 4\n"
    "sleep 1500\n"
    "insert 2\n"
    "sleep 1500\n"
    "powerup\n"
    "sleep 2500\n"
    "insert 3\n"
    "sleep 1500\n";

QString StartSimulator(QProcess& simulator, const char* script) {
    DiesWithTest(simulator);
    simulator.start(NORVA_SIM_BINARY, {"--script", script, "--exit-after-script"});
    if (!simulator.waitForStarted() || !simulator.waitForReadyRead(5000)) return {};
    const QString first = QString::fromLatin1(simulator.readLine()).trimmed();
    return first.startsWith("pty ") ? first.mid(4) : QString();
}

// The operator's part of the session in kScript: enable the acceptor, accept the first note,
// reject the third, then reset it. The second note's channel is not ticked.
// Empty when the session went through, else the step it stopped at, the log so far and what
// the device printed.
QString PlayTheOperator(QProcess& device) {
    const auto until = [](auto condition) { return QTest::qWaitFor(condition, 15000); };
    const auto stuck = [&device](const char* step) {
        return QString("stuck at %1; log:\n%2\ndevice:\n%3")
            .arg(step, LogText(Form1), QString::fromLocal8Bit(device.readAllStandardOutput()));
    };
    if (!until([] { return Form1->BitBtn5->text() == "Enable BA"; })) return stuck("power-up");
    QTest::mouseClick(Form1->BitBtn5, Qt::LeftButton);
    // A poll that crosses the escrow message on the line is answered with a status code, which
    // ends the escrow as the protocol says: one poll goes into the capture, then polling stops
    // well before the first note, so the session does not hang on the timer's phase.
    if (!until([] { return LogText(Form1).count("Send      [0x0C]") >= 1; })) return stuck("poll");
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    if (!until([] { return Form1->BitBtn6->isEnabled(); })) return stuck("first note");
    QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
    if (!until([] { return LogText(Form1).contains("Receive [0x81][0x8F][0x41]"); }))
        return stuck("third note");
    if (!until([] { return Form1->BitBtn7->isEnabled(); })) return stuck("reject");
    QTest::mouseClick(Form1->BitBtn7, Qt::LeftButton);
    // Both returned: the refused note and the rejected one (polls may come between).
    if (!until([] { return LogText(Form1).count("Receive [0x11]") == 2; })) return stuck("returns");
    QTest::mouseClick(Form1->Button1, Qt::LeftButton);  // RESET: the acceptor powers up again
    if (!until([] { return LogText(Form1).count("Receive [0x80]") == 2; })) return stuck("reset");
    return {};
}

// The log without the polls, which follow the clock rather than the session.
QString WithoutPolls(const QString& log) {
    QStringList kept = log.split('\n');
    kept.removeAll(QStringLiteral("Send      [0x0C]"));
    return kept.join('\n');
}

// The bytes of the capture's RX or TX lines, in order, polls left out.
QString CapturedBytes(const QString& capture, const QString& kind) {
    QStringList bytes;
    for (const QString& line : capture.split('\n')) {
        const QStringList fields = line.split(' ');
        if (fields.size() < 3 || fields[1] != kind) continue;
        if (kind == "TX" && fields[2] == "0C") continue;
        bytes << fields.mid(2);
    }
    return bytes.join(' ');
}

QStringList HostBytesSeenByDevice(const QString& traffic) {
    QStringList bytes;
    for (const QString& line : traffic.split('\n')) {
        const int at = line.indexOf(" << ");
        if (at >= 0) bytes << line.mid(at + 4).split(' ');
    }
    return bytes;
}

}  // namespace

// The program's windows and engine against the real simulator process running a script.
class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void init() { strays_ = std::make_unique<StrayBoxes>(); }
    // A test that stopped half-way leaves no window polling a port for the next one.
    void cleanup() {
        const QStringList strays = std::exchange(strays_, {})->texts;
        if (Form1 != nullptr) DestroyWindows();
        norva::ReleaseComPort(&norva::ComHandle);
        QVERIFY2(strays.isEmpty(), qPrintable(strays.join('\n')));
    }

    void scriptedSession() {
        ShownWindows windows("100\r\n250\r\n500\r\n1000\r\n");
        QVERIFY(windows.ready());
        WriteFileBytes("session.txt", kScript);
        QProcess simulator;
        DiesWithTest(simulator);
        simulator.start(NORVA_SIM_BINARY, {"--script", "session.txt", "--exit-after-script"});
        QVERIFY(simulator.waitForStarted());
        QVERIFY(simulator.waitForReadyRead(5000));
        const QString first = QString::fromLatin1(simulator.readLine()).trimmed();
        QVERIFY2(first.startsWith("pty "), qPrintable(first));
        PortMapping mapping(1, first.mid(4).toStdString());

        QTest::mouseClick(Form1->Button3, Qt::LeftButton);  // "Stop Poll": a quiet, exact log
        QCOMPARE(Form1->Button3->text(), QString("Stop Poll"));
        TypeInto(Form1->ComboBox1, "Com1");
        QVERIFY(norva::ComHandle.IsOpen());

        QTRY_COMPARE_WITH_TIMEOUT(Form1->BitBtn5->text(), QString("Enable BA"), 5000);
        QTest::mouseClick(Form1->BitBtn5, Qt::LeftButton);

        QTRY_VERIFY_WITH_TIMEOUT(Form1->BitBtn6->isEnabled(), 10000);
        QCOMPARE(Form1->DigitsPanel2->Value(), 100);
        QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Form1->DigitsPanel1->Value(), 1, 5000);

        QTRY_VERIFY_WITH_TIMEOUT(LogText(Form1).contains("Receive [0x81][0x8F][0x43]"), 10000);

        QTRY_VERIFY_WITH_TIMEOUT(Form1->BitBtn7->isEnabled(), 10000);
        QCOMPARE(Form1->DigitsPanel2->Value(), 250);
        QTest::mouseClick(Form1->BitBtn7, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Form1->DigitsPanel2->Value(), 0, 5000);

        QVERIFY(simulator.waitForFinished(15000));
        QCOMPARE(simulator.exitCode(), 0);
        // The device's end reaches the link after everything it sent before.
        QTRY_VERIFY(Form1->Link().waitingForDevice());

        QCOMPARE(Form1->DigitsPanel1->Value(), 1);
        QCOMPARE(Form1->DigitsPanel3->Value(), 100);
        QCOMPARE(norva::NoteCount, 1);
        QVERIFY(!Form1->BitBtn6->isEnabled());
        QCOMPARE(LogText(Form1), QString("Receive [0x80]\n"
                                         "Receive [0x8F]\n"
                                         "Send      [0x02]\n"
                                         "Send [0x5E]\n"
                                         "Receive [0x81][0x8F][0x40]\n"
                                         "Send      [0x02]\n"
                                         "Receive [0x10]\n"
                                         "Receive [0x81][0x8F][0x43]\n"
                                         "Send      [0x0F]\n"
                                         "Receive [0x11]\n"
                                         "Receive [0x81][0x8F][0x41]\n"
                                         "Send      [0x0F]\n"
                                         "Receive [0x11]"));
        const QString traffic = QString::fromLatin1(simulator.readAllStandardOutput());
        QCOMPARE(HostBytesSeenByDevice(traffic), (QStringList{"02", "5E", "02", "0F", "0F"}));
        windows.TakeDown();
        norva::ReleaseComPort(&norva::ComHandle);
    }

    // The capture of a session through the windows holds every exchange, and replayed against a
    // fresh bench it gives the same log, polls aside, with every answer matching.
    void captureReplaysToTheSameLog() {
        TempCwd cwd;
        WriteFileBytes("BILLVALUE.TXT", "100\r\n250\r\n500\r\n1000\r\n");
        WriteFileBytes("session.txt", kScript);
        QString recordedLog;
        {
            // The windows first: the device's script runs on its own clock from its start.
            norva::CreateWindows();
            Form1->show();
            QVERIFY(QTest::qWaitForWindowExposed(Form1));
            QProcess device;
            const QString pty = StartSimulator(device, "session.txt");
            QVERIFY(!pty.isEmpty());
            PortMapping mapping(1, pty.toStdString());
            TypeInto(Form1->ComboBox1, "Com1");
            QCOMPARE(PlayTheOperator(device), QString());
            QTRY_COMPARE_WITH_TIMEOUT(device.state(), QProcess::NotRunning, 30000);
            QTRY_VERIFY(Form1->Link().waitingForDevice());
            QVERIFY(Form1->Traffic().SaveTo("session.cap").ok());
            recordedLog = WithoutPolls(LogText(Form1));
            DestroyWindows();
            norva::ReleaseComPort(&norva::ComHandle);

            const QString capture = QString::fromStdString(ReadFileBytes("session.cap"));
            QVERIFY(capture.startsWith("# norva-protocol traffic capture\n# port COM1 " + pty +
                                       " 9600,E,8,1\n"));
            QVERIFY(capture.contains(" TX 0C\n"));  // the polls are recorded too
            QCOMPARE(CapturedBytes(capture, "TX"), QString("02 5E 02 0F 0F 30 02"));
            // Between the poll answers: the power-up, a note stacked, one refused and returned,
            // one rejected and returned, the power-up after the reset.
            QRegularExpression received(
                "^80 8F .*81 8F 40 .*10 .*81 8F 43 .*11 .*81 8F 41 .*11 .*80 8F");
            QVERIFY2(received.match(CapturedBytes(capture, "RX")).hasMatch(),
                     qPrintable(CapturedBytes(capture, "RX")));
            const QRegularExpression event(
                "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}Z (RX|TX)( [0-9A-F]{2})+$");
            for (const QString& line : capture.trimmed().split('\n'))
                QVERIFY2(line.startsWith('#') || event.match(line).hasMatch(), qPrintable(line));
        }

        norva::CreateWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        QProcess replay;
        DiesWithTest(replay);
        replay.start(NORVA_SIM_BINARY, {"--replay", "session.cap"});
        QVERIFY(replay.waitForStarted() && replay.waitForReadyRead(5000));
        const QString pty = QString::fromLatin1(replay.readLine()).trimmed().mid(4);
        PortMapping mapping(1, pty.toStdString());
        TypeInto(Form1->ComboBox1, "Com1");
        QCOMPARE(PlayTheOperator(replay), QString());
        QTRY_COMPARE_WITH_TIMEOUT(replay.state(), QProcess::NotRunning, 30000);
        QTRY_VERIFY(Form1->Link().waitingForDevice());
        const QString report = QString::fromUtf8(replay.readAllStandardOutput());
        QVERIFY2(replay.exitCode() == 0, qPrintable(report.right(600)));
        QVERIFY(report.contains("differed 0"));
        QCOMPARE(WithoutPolls(LogText(Form1)), recordedLog);
        DestroyWindows();
        norva::ReleaseComPort(&norva::ComHandle);
    }

    // The command line writes, line for line, the log the window shows for the same session.
    void commandLineLogsWhatTheWindowLogs() {
        TempCwd cwd;
        WriteFileBytes("BILLVALUE.TXT", "100\r\nabc\r\n500\r\n");
        WriteFileBytes("shared.sim", kSharedScript);

        QProcess cliDevice;
        const QString cliPty = StartSimulator(cliDevice, "shared.sim");
        QVERIFY(!cliPty.isEmpty());
        QProcess cli;
        DiesWithTest(cli);
        cli.start(NORVA_CLI_BINARY, {"--device", cliPty, "--poll", "0", "--escrow", "no-escrow"});
        QVERIFY(cli.waitForStarted());
        norva::CreateWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);  // no polls: they follow the clock
        Form1->RadioGroup1->SetItemIndex(1);                // "No Escrow"
        QProcess windowDevice;
        const QString windowPty = StartSimulator(windowDevice, "shared.sim");
        QVERIFY(!windowPty.isEmpty());
        PortMapping mapping(1, windowPty.toStdString());
        TypeInto(Form1->ComboBox1, "Com1");
        for (int powerUp = 0; powerUp < 2; ++powerUp) {
            QTRY_COMPARE_WITH_TIMEOUT(Form1->BitBtn5->text(), QString("Enable BA"), 10000);
            QTest::mouseClick(Form1->BitBtn5, Qt::LeftButton);
        }

        // The window answers from this thread's event loop, which must keep running meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(windowDevice.state(), QProcess::NotRunning, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(cliDevice.state(), QProcess::NotRunning, 30000);
        // Each front has handled all its device sent once it tells of the device's end.
        QTRY_VERIFY(Form1->Link().waitingForDevice());
        QByteArray cliNotices;
        QTRY_VERIFY((cliNotices += cli.readAllStandardError()).contains(" gone"));
        cli.terminate();
        QVERIFY(cli.waitForFinished(5000));
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        const QString cliLog = out.left(out.indexOf("\n== summary")).trimmed();
        QVERIFY(LogText(Form1).count('\n') > 15);
        QCOMPARE(cliLog, LogText(Form1));
        DestroyWindows();
        norva::ReleaseComPort(&norva::ComHandle);
    }

private:
    std::unique_ptr<StrayBoxes> strays_;
};

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
