#include <QApplication>
#include <QTest>

#include "app/startup.h"
#include "port_fixture.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

// What a stray key could destroy or send, in one line.
QString CountsOf(TForm1* window) {
    return QStringLiteral("count=%1 escrow=%2 credit=%3 notes=%4")
        .arg(window->DigitsPanel1->Value())
        .arg(window->DigitsPanel2->Value())
        .arg(window->DigitsPanel3->Value())
        .arg(norva::NoteCount);
}

// A key as the keyboard delivers it: to the focused control, or to the window when none is.
void PressKey(Qt::Key key) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), key);
}

}  // namespace

// The operator answers a note from the keyboard; when the acceptor's answer disables the button
// that had the focus, the next key must not land on another command.
class DecisionFocusTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // What a failed init left: cleanup does not run after one.
        bench_.reset();
        bench_ = std::make_unique<WindowsOnDevice>("100\r\n200\r\n500\r\n");
        QVERIFY2(bench_->ready(), qPrintable(bench_->why()));
        pty_ = &bench_->device();
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
    }
    void cleanup() { bench_.reset(); }

    void disabledButtonPassesNoKeyOn_data() {
        QTest::addColumn<QString>("button");  // focused, and pressed with Space if answered
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QByteArray>("sent");    // what the press sends
        QTest::addColumn<QByteArray>("device");  // what the acceptor then reports

        QTest::newRow("accept, stacked")
            << "BitBtn6" << true << QByteArray("\x02") << QByteArray("\x10");
        QTest::newRow("reject, returned")
            << "BitBtn7" << true << QByteArray("\x0F") << QByteArray("\x11");
        QTest::newRow("reject, status code")
            << "BitBtn7" << true << QByteArray("\x0F") << QByteArray("\x3E");
        QTest::newRow("accept focused, status code")
            << "BitBtn6" << false << QByteArray() << QByteArray("\x3E");
        QTest::newRow("reject focused, returned")
            << "BitBtn7" << false << QByteArray() << QByteArray("\x11");
    }

    void disabledButtonPassesNoKeyOn() {
        QFETCH(QString, button);
        QFETCH(bool, answer);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, device);

        Form1->SetDisplayValue(norva::Display::Credit, 7000);
        pty_->Write({0x81, 0x8F, 0x41});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled() && Form1->BitBtn7->isEnabled());
        auto* focused = Form1->findChild<QPushButton*>(button);
        QVERIFY(focused != nullptr);
        focused->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), focused);
        if (answer) PressKey(Qt::Key_Space);
        QCOMPARE(DeviceGets(*pty_, std::size_t(sent.size()), 200), Bytes(sent.begin(), sent.end()));

        pty_->Write(Bytes(device.begin(), device.end()));
        QTRY_VERIFY(!Form1->BitBtn6->isEnabled() && !Form1->BitBtn7->isEnabled());
        QVERIFY(Form1->DigitsPanel3->Value() >= 7000);  // something a stray Clear Credit would lose
        const QString counts = CountsOf(Form1);

        QCOMPARE(QApplication::focusWidget(), nullptr);
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter})
            PressKey(key);
        QCOMPARE(CountsOf(Form1), counts);
        QCOMPARE(pty_->ReadUntilQuiet(50), Bytes{});

        // Tab finds the controls again.
        PressKey(Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != nullptr);
        QVERIFY(Form1->isAncestorOf(QApplication::focusWidget()));
    }

    // A button that is disabled without having the focus leaves the focus where it was.
    void focusElsewhereStays() {
        pty_->Write({0x81, 0x8F, 0x40});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled());
        Form1->Memo1->setFocus(Qt::MouseFocusReason);
        pty_->Write({0x11});
        QTRY_VERIFY(!Form1->BitBtn6->isEnabled());
        QCOMPARE(QApplication::focusWidget(), Form1->Memo1);
    }

private:
    std::unique_ptr<WindowsOnDevice> bench_;
    const PtyPair* pty_ = nullptr;
};

QTEST_MAIN(DecisionFocusTest)
#include "tst_decision_focus.moc"
