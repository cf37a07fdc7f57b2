#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTextBlock>

#include "app/memory_budget.h"
#include "app/protocol_log_pane.h"

namespace {

// hh:mm:ss.uuuuuu in local time, as a clock on the wall shows it.
QString Clock(std::int64_t unixMicros) {
    return QDateTime::fromMSecsSinceEpoch(unixMicros / 1000).toString(QStringLiteral("hh:mm:ss.")) +
           QStringLiteral("%1").arg(unixMicros % 1000000, 6, 10, QLatin1Char('0'));
}

double GapMs(const QString& tip) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral(", \\+(\\d+\\.\\d{3}) ms")).match(tip);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

}  // namespace

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

    // Each burst is appended within one event; one turn of the event loop later it must all be
    // shown, in order, after everything before it. Empty burst: Clear Memo.
    void burstsShowByTheNextTurn_data() {
        QTest::addColumn<QList<int>>("bursts");
        QTest::newRow("one line a turn") << QList<int>{1, 1, 1, 1};
        QTest::newRow("bursts of several") << QList<int>{3, 1, 7, 2};
        QTest::newRow("cleared between") << QList<int>{2, 0, 3, 0, 0, 1};
    }

    void burstsShowByTheNextTurn() {
        QFETCH(QList<int>, bursts);
        QStringList expected;
        int serial = 0;
        for (const int size : bursts) {
            if (size == 0) {
                pane_->ClearLog();
                expected.clear();
            }
            for (int i = 0; i < size; ++i, ++serial) {
                const QString line =
                    QStringLiteral("Receive [0x2%1] #%2").arg(serial % 10).arg(serial);
                pane_->AppendLine(line);
                expected << line;
            }
            QCoreApplication::processEvents();
            QCOMPARE(pane_->toPlainText(), expected.join(u'\n'));
        }
    }

    // The operator types into the pane between lines; the text stays theirs and new lines still
    // start on a line of their own.
    void staysEditable() {
        QVERIFY(!pane_->isReadOnly());
        pane_->AppendLine(QStringLiteral("Send      [0x0C]"));
        pane_->FlushLog();
        pane_->setFocus();
        pane_->moveCursor(QTextCursor::End);
        QTest::keyClicks(pane_, QStringLiteral(" note"));
        QTest::keyClick(pane_, Qt::Key_Return);
        QTest::keyClicks(pane_, QStringLiteral("typed"));
        pane_->AppendLine(QStringLiteral("Receive [0x3E]"));
        QCoreApplication::processEvents();
        QCOMPARE(pane_->toPlainText(),
                 QStringLiteral("Send      [0x0C] note\ntyped\nReceive [0x3E]"));
        // Undo never takes traffic, nor anything else, out of the log.
        QTest::keyClick(pane_, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_->toPlainText(),
                 QStringLiteral("Send      [0x0C] note\ntyped\nReceive [0x3E]"));
    }

    // However the bar decides to spare repaints, what is on the screen is what a fresh paint of
    // the bar would show, line after line, following the end or scrolled up.
    void scrollBarOnScreenIsCurrent_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("scrolledUp");
        QTest::newRow("fits, no slider") << 5 << false;
        QTest::newRow("slider appears") << 40 << false;
        QTest::newRow("slider at its smallest") << 600 << false;
        QTest::newRow("scrolled up while lines arrive") << 600 << true;
    }

    void scrollBarOnScreenIsCurrent() {
        QFETCH(int, lines);
        QFETCH(bool, scrolledUp);
        QScrollBar* bar = pane_->verticalScrollBar();
        for (int i = 0; i < lines; ++i) {
            if (scrolledUp && i == lines / 2) bar->setValue(bar->maximum() / 3);
            pane_->AppendLine(QStringLiteral("Send      [0x0C]"));
            QCoreApplication::processEvents();
            if (i % 7 != 0 && i + 1 != lines) continue;
            // A bar left stale never repaints by itself, so waiting for a pending paint is safe.
            const QRect onWindow(bar->mapTo(window_.get(), QPoint(0, 0)), bar->size());
            const auto shown = [&] {
                return window_->screen()
                    ->grabWindow(window_->winId(), onWindow.x(), onWindow.y(), onWindow.width(),
                                 onWindow.height())
                    .toImage()
                    .convertToFormat(QImage::Format_RGB32);
            };
            // Drawn by a plain bar of its own: grabbing the pane's bar would paint it again.
            QScrollBar reference(Qt::Vertical);
            reference.resize(bar->size());
            reference.setRange(bar->minimum(), bar->maximum());
            reference.setPageStep(bar->pageStep());
            reference.setValue(bar->value());
            const QImage fresh = reference.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QTRY_VERIFY2_WITH_TIMEOUT(shown() == fresh,
                                      qPrintable(QStringLiteral("stale bar after line %1").arg(i)),
                                      2000);
        }
        QCOMPARE(bar->value() == bar->maximum(), !scrolledUp);
    }

    // Lines appended in a rhythm carry it; a sent line's tooltip has its time and the gap, a
    // received line's also its block; Clear Memo forgets every time.
    void linesKeepTheirTimes() {
        const QRegularExpression sent(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{6}(, \\+\\d+\\.\\d{3} ms)?$"));
        const int pausesMs[] = {0, 40, 120, 15};
        for (const int pause : pausesMs) {
            QTest::qWait(pause);
            pane_->AppendLine(QStringLiteral("Send      [0x0C]"));
            pane_->FlushLog();
        }
        QVERIFY(pane_->LineToolTip(0).contains(sent));
        QCOMPARE(GapMs(pane_->LineToolTip(0)), -1.0);  // no line before the first
        for (int line = 1; line < 4; ++line) {
            const QString tip = pane_->LineToolTip(line);
            QVERIFY2(tip.contains(sent), qPrintable(tip));
            QVERIFY2(GapMs(tip) >= pausesMs[line] && GapMs(tip) < pausesMs[line] + 5000,
                     qPrintable(tip));
        }

        // A known first byte, a quarter of a second ago.
        const std::int64_t arrived = QDateTime::currentMSecsSinceEpoch() * 1000 - 250'000 + 123;
        pane_->BeginReceivedBlock(arrived, 3);
        pane_->AppendLine(QStringLiteral("Receive [0x80]"));
        pane_->AppendLine(QStringLiteral("Send      [0x02]"));  // the engine's answer
        pane_->EndReceivedBlock();
        pane_->FlushLog();
        const QStringList received = pane_->LineToolTip(4).split(u'\n');
        QCOMPARE(received.size(), 2);
        QVERIFY(received[0].contains(sent));
        QCOMPARE(received[1], QStringLiteral("block of 3 bytes, first byte at ") + Clock(arrived));
        QCOMPARE(pane_->LineToolTip(5).split(u'\n').size(), 1);

        pane_->ClearLog();
        pane_->AppendLine(QStringLiteral("Receive [0x3E]"));
        pane_->FlushLog();
        QCOMPARE(GapMs(pane_->LineToolTip(0)), -1.0);
        QVERIFY(pane_->LineToolTip(1).isEmpty());
    }

    // Typing in the middle leaves every appended line with its own time; text the operator
    // typed, or a line whose text they moved away, has none.
    void operatorEditsKeepTimesInPlace() {
        for (int i = 0; i < 4; ++i) {
            pane_->AppendLine(QStringLiteral("Receive [0x2%1]").arg(i));
            pane_->FlushLog();
            QTest::qWait(2);
        }
        const QStringList before = {pane_->LineToolTip(0), pane_->LineToolTip(1),
                                    pane_->LineToolTip(2), pane_->LineToolTip(3)};
        pane_->setFocus();
        QTextCursor cursor(pane_->document()->findBlockByNumber(1));
        pane_->setTextCursor(cursor);  // start of line 1
        QTest::keyClicks(pane_, QStringLiteral("by hand"));
        QTest::keyClick(pane_, Qt::Key_Return);  // "by hand" / "Receive [0x21]"
        cursor = QTextCursor(pane_->document()->findBlockByNumber(3));
        pane_->setTextCursor(cursor);
        QTest::keyClick(pane_, Qt::Key_Return);  // "" / "Receive [0x22]"
        QCOMPARE(pane_->toPlainText(), QStringLiteral("Receive [0x20]\nby hand\nReceive [0x21]\n"
                                                      "\nReceive [0x22]\nReceive [0x23]"));
        QCOMPARE(pane_->LineToolTip(0), before[0]);
        QCOMPARE(pane_->LineToolTip(5), before[3]);
        for (const int line : {1, 2, 3, 4}) {
            const QString tip = pane_->LineToolTip(line);
            QVERIFY2(tip.isEmpty() || before.indexOf(tip) == line - 1 - (line > 2),
                     qPrintable(QStringLiteral("line %1: %2").arg(line).arg(tip)));
            QVERIFY(line != 1 && line != 3 ? true : tip.isEmpty());
        }
    }

    // A flood under a small budget, following the end or scrolled up: the oldest lines go in
    // pieces, no turn of the event loop dropping more than a piece and what came in since the
    // last. Newest lines intact and in order, the operator's line whole or gone, the notice
    // counting since Clear Memo, a scrolled-up view still on its line.
    void floodIsTrimmedInPieces_data() {
        QTest::addColumn<bool>("scrolledUp");
        QTest::newRow("following the end") << false;
        QTest::newRow("scrolled up") << true;
    }

    void floodIsTrimmedInPieces() {
        QFETCH(bool, scrolledUp);
        norva::MemoryBudget budget(1024 * 1024);
        QStringList notices;
        pane_->AttachBudget(&budget, [&notices](const QString& text) { notices << text; });
        const norva::LogTrim& trim = pane_->Trim();
        pane_->AppendLine(QStringLiteral("Send      [0x0C] 0"));
        pane_->FlushLog();
        QTextCursor end(pane_->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("\ntyped by the operator"));
        QScrollBar* bar = pane_->verticalScrollBar();
        QString topBefore;
        int serial = 1;
        std::uint64_t appendedSinceDrop = 0;
        const auto turn = [&] {
            const std::uint64_t before = trim.droppedLines();
            QCoreApplication::processEvents();
            const std::uint64_t dropped = trim.droppedLines() - before;
            if (dropped == 0) return true;
            const bool withinPiece = dropped <= norva::LogTrim::kPieceLines + appendedSinceDrop;
            appendedSinceDrop = 0;
            return withinPiece;
        };
        for (int turns = 0; serial < 30000; ++turns) {
            for (int i = 0; i < 500; ++i, ++serial)
                pane_->AppendLine(QStringLiteral("Send      [0x0C] %1").arg(serial));
            appendedSinceDrop += 500;
            QVERIFY2(turn(), qPrintable(QStringLiteral("turn %1").arg(turns)));
            if (scrolledUp && topBefore.isEmpty() && trim.droppedLines() > 0) {
                bar->setValue(bar->maximum() - 500);
                topBefore = pane_->cursorForPosition(QPoint(2, 2)).block().text();
            }
        }
        for (QDeadlineTimer deadline(5000); trim.linesToDrop() > 0 && !deadline.hasExpired();)
            QVERIFY(turn());
        QCOMPARE(trim.linesToDrop(), 0u);
        QVERIFY(budget.Total() <= budget.limit());

        const QStringList lines = pane_->toPlainText().split(u'\n');
        int expected = QStringView(lines.front()).mid(17).toInt();
        QVERIFY(expected > 0);
        for (const QString& line : lines) {
            if (line == QLatin1String("typed by the operator")) {
                QCOMPARE(expected, 1);
                continue;
            }
            QCOMPARE(line, QStringLiteral("Send      [0x0C] %1").arg(expected++));
        }
        QCOMPARE(expected, serial);
        const int dropped = serial + 1 - int(lines.size());
        QCOMPARE(notices.back(), QStringLiteral("Log: oldest %1 lines dropped to stay within 1 MB")
                                     .arg(QLocale(QLocale::English).toString(dropped)));
        QVERIFY(pane_->LineToolTip(0).startsWith(notices.back() + u'\n'));
        QCOMPARE(bar->value() == bar->maximum(), !scrolledUp);
        if (scrolledUp && lines.contains(topBefore))
            QCOMPARE(pane_->cursorForPosition(QPoint(2, 2)).block().text(), topBefore);

        pane_->ClearLog();
        pane_->AppendLine(QStringLiteral("Send      [0x0C]"));
        pane_->FlushLog();
        QVERIFY(pane_->TrimNotice().isEmpty());
        pane_->AttachBudget(nullptr, {});
    }

private:
    std::unique_ptr<QWidget> window_;
    norva::ProtocolLogPane* pane_ = nullptr;
};

QTEST_MAIN(ProtocolLogPaneTest)
#include "tst_protocol_log_pane.moc"
