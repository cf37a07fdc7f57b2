#include <QAccessible>
#include <QTest>

#include "app/window_constants.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "windows_fixture.h"

// What the window says beyond its fixed texts: the link indicator's state to a screen reader,
// and whether a command's byte went out, in its log line's tooltip.
class WindowNotesTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        windows_ = std::make_unique<ShownWindows>();
        QVERIFY(windows_->ready());
        Form1->Timer1->stop();
    }
    void cleanup() {
        windows_.reset();
        norva::CloseComPort(&norva::ComHandle);
    }

    // A screen reader speaks the name and the description: the state must be in the latter.
    void linkStateIsSpoken() {
        QAccessibleInterface* link = QAccessible::queryAccessibleInterface(Form1->Label2);
        QVERIFY(link != nullptr);
        QCOMPARE(link->text(QAccessible::Name), QStringLiteral("Link"));
        QCOMPARE(link->text(QAccessible::Description), QStringLiteral("No Link"));
        Form1->SetLinkIndicator(norva::kLinkingNowCaption, 0x008000);
        QCOMPARE(link->text(QAccessible::Description), QStringLiteral("Linking Now"));
        QCOMPARE(link->text(QAccessible::Value), QStringLiteral("Linking Now"));
    }

    void unwrittenBytesAreNoted_data() {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<bool>("poll");  // else RESET, which writes before its line goes in
        QTest::addColumn<QString>("line");
        QTest::newRow("poll, no port") << false << true << "Send      [0x0C]";
        QTest::newRow("reset, no port") << false << false << "Send      [0x30]";
        QTest::newRow("poll, port open") << true << true << "Send      [0x0C]";
        QTest::newRow("reset, port open") << true << false << "Send      [0x30]";
    }

    // The line goes in either way, as always; only its tooltip tells a byte that did not go out.
    void unwrittenBytesAreNoted() {
        QFETCH(bool, portOpen);
        QFETCH(bool, poll);
        QFETCH(QString, line);
        PtyPair pty;
        QVERIFY(pty.ok());
        const ScopedEnv com1("NORVA_COM1", pty.slavePath());
        if (portOpen)
            QCOMPARE(norva::OpenComPort(&norva::ComHandle, "COM1", "9600,E,8,1"), norva::kOpened);
        if (poll)
            Form1->Timer1Timer();
        else
            Form1->Button1Click();
        Form1->FlushLog();
        QCOMPARE(Form1->Memo1->toPlainText(), line);
        const QString tip = Form1->Memo1->LineToolTip(0);
        QCOMPARE(tip.contains(QStringLiteral("not written")), !portOpen);
        if (!portOpen)
            QVERIFY2(tip.endsWith(QStringLiteral("\nnot written: no port open")), qPrintable(tip));
        QCOMPARE(pty.ReadUntilQuiet(50).size(), portOpen ? 1u : 0u);
    }

private:
    std::unique_ptr<ShownWindows> windows_;
};

QTEST_MAIN(WindowNotesTest)
#include "tst_window_notes.moc"
