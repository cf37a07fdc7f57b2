#include "app/protocol_log_pane.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

#include "app/log_scroll_bar.h"
#include "protocol/traffic_sink.h"
#include "protocol/wire.h"

namespace norva {

namespace {

bool IsReceivedLine(const QString& line) {
    return line.startsWith(QLatin1String("Receive ["));
}

const QString& PollLine() {
    static const QString line = QString::fromLatin1(wire::SentLine(wire::kPoll));
    return line;
}

}  // namespace

ProtocolLogPane::ProtocolLogPane(QWidget* parent) : QPlainTextEdit(parent), trim_(*this, times_) {
    setVerticalScrollBar(new LogScrollBar(this));
    // The log is Latin text: shaping each new line changes nothing that shows but the kerning.
    QFont unshaped;
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    setFont(unshaped);
}

void ProtocolLogPane::AppendLine(const QString& line) {
    const std::size_t size =
        inBlock_ && IsReceivedLine(line) ? std::max<std::size_t>(blockSize_, 1) : 0;
    times_.Add(line, UnixMicrosNow(), blockMicros_, size);
    pending_.append(line);
    if (line == PollLine()) pollPending_ = true;
    if (flushScheduled_) return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, [this] { FlushLog(); });
}

void ProtocolLogPane::MarkLastLineNotWritten(const QString& reason) {
    times_.MarkLastNotWritten(reason);
}

void ProtocolLogPane::BeginReceivedBlock(std::int64_t firstByteUnixMicros, std::size_t size) {
    inBlock_ = true;
    blockMicros_ = firstByteUnixMicros;
    blockSize_ = size;
}

void ProtocolLogPane::EndReceivedBlock() {
    inBlock_ = false;
}

void ProtocolLogPane::FlushLog() {
    flushScheduled_ = false;
    if (pending_.isEmpty()) return;
    const QString text = pending_.join(u'\n');
    const qsizetype added = pending_.size();
    const bool afterPoll = std::exchange(pollPending_, false);
    pending_.clear();

    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const bool followEnd = vertical->value() == vertical->maximum();
    const int verticalValue = vertical->value();
    const int horizontalValue = horizontal->value();
    const QTextCursor operatorCursor = textCursor();
    const int anchor = operatorCursor.anchor();
    const int position = operatorCursor.position();

    appendPlainText(text);

    // Text went in only after everything that was there, so the old positions still hold.
    if (textCursor().anchor() != anchor || textCursor().position() != position) {
        QTextCursor restored = textCursor();
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(restored);
    }
    horizontal->setValue(horizontalValue);
    vertical->setValue(followEnd ? vertical->maximum() : verticalValue);

    times_.Commit(*document());
    trim_.Appended(added, text.size() + 1, afterPoll);
}

void ProtocolLogPane::ClearLog() {
    pending_.clear();
    pollPending_ = false;
    times_.Clear();
    trim_.Clear();
    clear();
}

QString ProtocolLogPane::LogText() const {
    if (pending_.isEmpty()) return toPlainText();
    const QString shown = toPlainText();
    const QString waiting = pending_.join(u'\n');
    return document()->isEmpty() ? waiting : shown + u'\n' + waiting;
}

QStringList ProtocolLogPane::ShownLines() const {
    QStringList lines;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    if (lines.size() == 1 && lines.front().isEmpty()) lines.clear();
    return lines;
}

void ProtocolLogPane::AttachBudget(MemoryBudget* budget,
                                   std::function<void(const QString&)> notice) {
    trim_.Attach(budget, std::move(notice));
}

QString ProtocolLogPane::LineToolTip(int blockNumber) const {
    const QTextBlock block = document()->findBlockByNumber(blockNumber);
    if (!block.isValid()) return {};
    QStringList parts;
    if (blockNumber == 0 && !trim_.notice().isEmpty()) parts << trim_.notice();
    const QString times = times_.Describe(block);
    if (!times.isEmpty()) parts << times;
    return parts.join(u'\n');
}

bool ProtocolLogPane::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = LineToolTip(cursorForPosition(help->pos()).blockNumber());
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), tip, viewport());
        }
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}

void ProtocolLogPane::AddContextActions(const QList<QAction*>& actions) {
    contextGroups_.append(actions);
}

void ProtocolLogPane::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu(event->pos());
    for (const QList<QAction*>& group : contextGroups_) {
        menu->addSeparator();
        menu->addActions(group);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

}  // namespace norva
