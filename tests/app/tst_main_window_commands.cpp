#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>

#include "app/startup.h"
#include "app/window_constants.h"
#include "modal_watcher.h"
#include "protocol_tables.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

namespace {

QString Caption(std::string_view caption) {
    return QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
}

QString LogOf(TForm1* window) {
    window->FlushLog();
    return window->Memo1->toPlainText();
}

// The state the commands may touch, in one line.
QString StateOf(TForm1* window) {
    return QStringLiteral(
               "caption=%1 accept=%2 reject=%3 panels=%4,%5,%6 count=%7 awaiting=%8 "
               "pending=%9")
        .arg(window->BitBtn5->text())
        .arg(window->BitBtn6->isEnabled())
        .arg(window->BitBtn7->isEnabled())
        .arg(window->DigitsPanel1->Value())
        .arg(window->DigitsPanel2->Value())
        .arg(window->DigitsPanel3->Value())
        .arg(norva::NoteCount)
        .arg(norva::AwaitingDecision)
        .arg(norva::EscrowPending);
}

}  // namespace

// The operator's buttons and the polling timer on the real window, writing to a real port.
class MainWindowCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // What a failed init left: cleanup does not run after one.
        cleanup();
        pty_ = std::make_unique<PtyPair>();
        QVERIFY(pty_->ok());
        com1_ = std::make_unique<ScopedEnv>("NORVA_COM1", pty_->slavePath());
        windows_ = std::make_unique<ShownWindows>();
        QVERIFY(windows_->ready());
        QCOMPARE(norva::OpenComPort(&norva::ComHandle, "COM1", "9600,E,8,1"), norva::kOpened);
    }
    void cleanup() {
        windows_.reset();
        norva::CloseComPort(&norva::ComHandle);
        com1_.reset();
        pty_.reset();
    }

    void buttons_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<int>("awaiting");
        QTest::addColumn<int>("pending");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("after");

        // Every case starts with Accept and Reject enabled, so that their clicks arrive, and the
        // panels at 3, 50 and 900 with a note count of 3.
        QTest::newRow("disable then enable")
            << QStringList{"BitBtn5", "BitBtn5"} << 0 << 0 << "Send [0x3E]\nSend [0x5E]"
            << QByteArray("\x3E\x5E")
            << "caption=Disable BA accept=1 reject=1 panels=3,50,900 count=3 awaiting=0 pending=0";
        QTest::newRow("accept with nothing awaited")
            << QStringList{"BitBtn6"} << 0 << 1 << "" << QByteArray()
            << "caption=Disable BA accept=1 reject=1 panels=3,50,900 count=3 awaiting=0 pending=1";
        QTest::newRow("reject with nothing awaited")
            << QStringList{"BitBtn7"} << 0 << 1 << "" << QByteArray()
            << "caption=Disable BA accept=1 reject=1 panels=3,50,900 count=3 awaiting=0 pending=1";
        QTest::newRow("accept twice while awaited")
            << QStringList{"BitBtn6", "BitBtn6"} << 1 << 1 << "Send      [0x02]"
            << QByteArray("\x02")
            << "caption=Disable BA accept=1 reject=1 panels=3,50,900 count=3 awaiting=0 pending=0";
        QTest::newRow("reject while awaited")
            << QStringList{"BitBtn7", "BitBtn6"} << 1 << 1 << "Send      [0x0F]"
            << QByteArray("\x0F")
            << "caption=Disable BA accept=1 reject=1 panels=3,50,900 count=3 awaiting=0 pending=1";
        QTest::newRow("reset in escrow")
            << QStringList{"Button1"} << 1 << 1 << "Send      [0x30]" << QByteArray("\x30")
            << "caption=Disable BA accept=0 reject=0 panels=3,0,900 count=3 awaiting=0 pending=1";
        QTest::newRow("reset with no escrow")
            << QStringList{"Button1"} << 0 << 0 << "Send      [0x30]" << QByteArray("\x30")
            << "caption=Disable BA accept=1 reject=1 panels=3,50,900 count=3 awaiting=0 pending=0";
        QTest::newRow("clear credit")
            << QStringList{"BitBtn8"} << 1 << 1 << "" << QByteArray()
            << "caption=Disable BA accept=1 reject=1 panels=0,0,0 count=0 awaiting=1 pending=1";
    }

    void buttons() {
        QFETCH(QStringList, clicks);
        QFETCH(int, awaiting);
        QFETCH(int, pending);
        QFETCH(QString, log);
        QFETCH(QByteArray, sent);
        QFETCH(QString, after);
        Form1->Timer1->stop();  // no poll in between
        Form1->SetAcceptEnabled(true);
        Form1->SetRejectEnabled(true);
        Form1->SetDisplayValue(norva::Display::NoteCount, 3);
        Form1->SetDisplayValue(norva::Display::Escrow, 50);
        Form1->SetDisplayValue(norva::Display::Credit, 900);
        norva::NoteCount = 3;
        norva::EscrowValue = 50;
        norva::AwaitingDecision = awaiting;
        norva::EscrowPending = pending;

        QStringList captions;
        for (const QString& name : clicks) {
            QTest::mouseClick(Form1->findChild<QPushButton*>(name), Qt::LeftButton);
            captions << Form1->BitBtn5->text();
        }
        if (clicks.count("BitBtn5") == 2) {
            QCOMPARE(captions, (QStringList{Caption(protocol_tables::kEnableBa),
                                            Caption(protocol_tables::kDisableBa)}));
        }
        QCOMPARE(LogOf(Form1), log);
        const std::vector<std::uint8_t> bytes = pty_->ReadUntilQuiet(50);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())),
                 sent);
        QCOMPARE(StateOf(Form1), after);
    }

    void clearMemoStartsAFreshLog() {
        Form1->Timer1->stop();
        Form1->AppendLogLine("Receive [0x3E]");
        Form1->FlushLog();
        Form1->AppendLogLine("not yet shown");
        QTest::mouseClick(Form1->BitBtn1, Qt::LeftButton);
        QCOMPARE(Form1->Memo1->LogText(), QString());
        QTest::mouseClick(Form1->BitBtn5, Qt::LeftButton);
        QCOMPARE(LogOf(Form1), QStringLiteral("Send [0x3E]"));
    }

    void pollingSwitch() {
        QVERIFY(Form1->Timer1->isActive());
        QCOMPARE(Form1->Button3->text(), QStringLiteral("Polling"));
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        QVERIFY(!Form1->Timer1->isActive());
        QCOMPARE(Form1->Button3->text(), QStringLiteral("Stop Poll"));
        QCOMPARE(norva::PollPermitted, 1);  // stopping does not touch the permission
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        QVERIFY(Form1->Timer1->isActive());
        QCOMPARE(Form1->Button3->text(), QStringLiteral("Polling"));
        QCOMPARE(Form1->Timer1->interval(), 1500);
        // A fresh interval: nowhere near a firing left over from before.
        QVERIFY(Form1->Timer1->remainingTime() > 1000);
    }

    // Each firing polls while polling is permitted, and only then.
    void timerPolls() {
        QSignalSpy firings(Form1->Timer1, &QTimer::timeout);
        Form1->Timer1->start(5);
        QTRY_VERIFY(firings.count() >= 2);
        Form1->Timer1->stop();
        const int polls = int(firings.count());
        QCOMPARE(LogOf(Form1), QStringList(polls, QStringLiteral("Send      [0x0C]")).join('\n'));
        QCOMPARE(pty_->ReadCount(std::size_t(polls), 2000),
                 std::vector<std::uint8_t>(std::size_t(polls), 0x0C));

        Form1->Memo1->ClearLog();
        norva::PollPermitted = 0;
        firings.clear();
        Form1->Timer1->start(5);
        QTRY_VERIFY(firings.count() >= 3);
        Form1->Timer1->stop();
        QCOMPARE(LogOf(Form1), QString());
        QVERIFY(pty_->ReadUntilQuiet(50).empty());
    }

    // What the engine reads and sets lands on the right control, texts as UTF-8.
    void engineWindowReachesTheControls() {
        Form1->SetLinkIndicator("Linking Now", 0x008000);
        QCOMPARE(Form1->Label2->palette().color(QPalette::Window), QColor(0, 128, 0));
        QCOMPARE(Form1->Label2->size(), Form1->Label2->sizeHint());

        Form1->CheckBox7->setChecked(true);
        Form1->CheckBox7->setText(QString::fromUtf8("5 \xE2\x82\xAC"));
        QVERIFY(Form1->ChannelTicked(7) && !Form1->ChannelTicked(8));
        QCOMPARE(Form1->ChannelCaption(7), std::string("5 \xE2\x82\xAC"));

        Form1->RadioGroup1->SetItemIndex(-1);
        QCOMPARE(Form1->EscrowSetting(), -1);

        Form1->SetDisplayValue(norva::Display::NoteCount, 1001);
        Form1->SetDisplayValue(norva::Display::Escrow, 20);
        Form1->SetDisplayValue(norva::Display::Credit, 300);
        QCOMPARE(Form1->DigitsPanel1->Value(), 1);
        QCOMPARE(Form1->DigitsPanel2->Value(), 20);
        QCOMPARE(Form1->DigitsPanel3->Value(), 300);
        QCOMPARE(Form1->DisplayValue(norva::Display::Credit), 300);
    }

    // A problem shows in the status bar for a while, then the bar reads as before.
    void transientProblem() {
        auto* shownFor = Form1->findChild<QTimer*>(QStringLiteral("ProblemTimer"));
        QVERIFY(shownFor != nullptr);
        QCOMPARE(shownFor->interval(), 10000);
        MessageBoxWatcher watcher;
        // Markup in a caption shows as typed: the panel needs the width of every character.
        const QString problem =
            QStringLiteral("Channel 4: '<b>5</b>' is not a valid integer value");
        Form1->ShowTransientProblem(problem.toStdString());
        QCOMPARE(Form1->StatusBar1->PanelText(norva::kTitleStatusPanel), problem);
        const QLabel* panel = Form1->StatusBar1->PanelLabel(norva::kTitleStatusPanel);
        QVERIFY(panel->sizeHint().width() >= panel->fontMetrics().horizontalAdvance(problem));
        QVERIFY(shownFor->isActive());
        shownFor->start(1);
        QTRY_COMPARE(Form1->StatusBar1->PanelText(norva::kTitleStatusPanel),
                     QStringLiteral("Norva Protocol"));
        QVERIFY(watcher.boxes.empty());
    }

    // Assistive technology reads each display's name and its value as it stands.
    void displaysSpeakTheirNameAndValue_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("note count") << "DigitsPanel1"
                                    << "Note Count"
                                    << "0"
                                    << "7";
        QTest::newRow("note in escrow") << "DigitsPanel2"
                                        << "Note in Escrow"
                                        << "0"
                                        << "20";
        QTest::newRow("credit") << "DigitsPanel3"
                                << "Credit"
                                << "0"
                                << "10";
        QTest::newRow("link") << "Label2"
                              << "Link" << Caption(protocol_tables::kNoLink)
                              << Caption(protocol_tables::kLinkingNow);
    }
    void displaysSpeakTheirNameAndValue() {
        QFETCH(QString, control);
        QFETCH(QString, name);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QWidget* widget = Form1->findChild<QWidget*>(control);
        QVERIFY(widget != nullptr);
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(spoken != nullptr);
        QCOMPARE(spoken->text(QAccessible::Name), name);
        QCOMPARE(spoken->text(QAccessible::Value), before);

        if (control == "Label2")
            Form1->SetLinkIndicator(protocol_tables::kLinkingNow, 0x008000);
        else
            Form1->findChild<TDigitsPanel*>(control)->SetValue(after.toInt());
        QCOMPARE(spoken->text(QAccessible::Value), after);
        if (QAccessibleValueInterface* value = spoken->valueInterface())
            QCOMPARE(value->currentValue().toString(), after);
        else
            QCOMPARE(control, QStringLiteral("Label2"));
    }

private:
    std::unique_ptr<PtyPair> pty_;
    std::unique_ptr<ScopedEnv> com1_;
    std::unique_ptr<ShownWindows> windows_;
};

QTEST_MAIN(MainWindowCommandsTest)
#include "tst_main_window_commands.moc"
