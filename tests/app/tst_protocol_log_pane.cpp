#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "app/protocol_log_pane.h"

// The log pane as the operator reads it: lines that arrive together are added in one edit, and
// new lines never pull the view or the cursor away from where the operator is.
class ProtocolLogPaneTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        window_ = std::make_unique<QWidget>();
        window_->resize(300, 340);
        pane_ = new norva::ProtocolLogPane(window_.get());
        pane_->setGeometry(5, 5, 289, 329);
        pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void linesOfOneEventGoInTogether() {
        QSignalSpy edits(pane_->document(), &QTextDocument::contentsChange);
        pane_->AppendLine(QStringLiteral("Receive [0x81][0x8F][0x40]"));
        pane_->AppendLine(QStringLiteral("Receive [0x10]"));
        pane_->AppendLine(QStringLiteral("Send      [0x0C]"));
        QCOMPARE(pane_->toPlainText(), QString());
        QCOMPARE(pane_->LogText(),
                 QStringLiteral("Receive [0x81][0x8F][0x40]\nReceive [0x10]\nSend      [0x0C]"));
        QTRY_VERIFY(!pane_->HasPendingLines());
        QCOMPARE(edits.count(), 1);
        QCOMPARE(pane_->toPlainText(),
                 QStringLiteral("Receive [0x81][0x8F][0x40]\nReceive [0x10]\nSend      [0x0C]"));

        pane_->AppendLine(QStringLiteral("Receive [0x3E]"));
        pane_->FlushLog();
        QCOMPARE(pane_->document()->blockCount(), 4);
        QCOMPARE(edits.count(), 2);

        pane_->AppendLine(QStringLiteral("dropped"));
        pane_->ClearLog();
        QCOMPARE(pane_->LogText(), QString());
        pane_->AppendLine(QStringLiteral("first"));
        pane_->FlushLog();
        QCOMPARE(pane_->toPlainText(), QStringLiteral("first"));
    }

    void scrollAndCursor_data() {
        QTest::addColumn<int>("scrollTo");  // -1: the end
        QTest::addColumn<int>("anchor");    // -1: the end of the text
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("follows");

        QTest::newRow("view at the end follows") << -1 << -1 << -1 << true;
        QTest::newRow("view at the end, cursor higher up") << -1 << 0 << 0 << true;
        QTest::newRow("view scrolled up stays, cursor at the end") << 10 << -1 << -1 << false;
        QTest::newRow("view at the top stays, selection kept") << 0 << 40 << 15 << false;
        QTest::newRow("view scrolled up stays, selection to the end") << 20 << 100 << -1 << false;
    }

    void scrollAndCursor() {
        QFETCH(int, scrollTo);
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(bool, follows);
        for (int i = 0; i < 200; ++i)
            pane_->AppendLine(QStringLiteral("Send      [0x0C] %1").arg(i));
        pane_->FlushLog();
        const int end = pane_->document()->characterCount() - 1;
        QTextCursor cursor = pane_->textCursor();
        cursor.setPosition(anchor < 0 ? end : anchor);
        cursor.setPosition(position < 0 ? end : position, QTextCursor::KeepAnchor);
        pane_->setTextCursor(cursor);
        QScrollBar* bar = pane_->verticalScrollBar();
        bar->setValue(scrollTo < 0 ? bar->maximum() : scrollTo);
        const int before = bar->value();
        const int maximumBefore = bar->maximum();
        const int cursorAnchor = pane_->textCursor().anchor();
        const int cursorPosition = pane_->textCursor().position();

        for (int i = 0; i < 50; ++i)
            pane_->AppendLine(QStringLiteral("Receive [0x3E]"));
        pane_->FlushLog();

        QVERIFY(bar->maximum() > maximumBefore);
        QCOMPARE(bar->value(), follows ? bar->maximum() : before);
        QCOMPARE(pane_->textCursor().anchor(), cursorAnchor);
        QCOMPARE(pane_->textCursor().position(), cursorPosition);
        QVERIFY(pane_->toPlainText().endsWith(QStringLiteral("Receive [0x3E]\nReceive [0x3E]")));
    }

private:
    std::unique_ptr<QWidget> window_;
    norva::ProtocolLogPane* pane_ = nullptr;
};

QTEST_MAIN(ProtocolLogPaneTest)
#include "tst_protocol_log_pane.moc"
