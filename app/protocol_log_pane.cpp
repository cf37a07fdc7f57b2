#include "app/protocol_log_pane.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QHelpEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "app/log_scroll_bar.h"
#include "app/memory_budget.h"
#include "protocol/traffic_sink.h"

namespace norva {

namespace {

// What one more line costs in Qt's text document besides its characters (two bytes each),
// measured with the bench's log lines.
constexpr std::uint64_t kDocumentBytesPerLine = 144;
constexpr std::uint32_t kSerialMask = 0x7FFFFFFF;

bool IsReceivedLine(const QString& line) {
    return line.startsWith(QLatin1String("Receive ["));
}

QString WallClock(std::int64_t unixMicros) {
    const std::int64_t micros = ((unixMicros % 1'000'000) + 1'000'000) % 1'000'000;
    const QDateTime at = QDateTime::fromSecsSinceEpoch((unixMicros - micros) / 1'000'000);
    return at.toString(QStringLiteral("hh:mm:ss.")) +
           QStringLiteral("%1").arg(micros, 6, 10, QLatin1Char('0'));
}

std::uint8_t TextCheck(const QString& text, qsizetype length) {
    std::uint8_t check = 0;
    for (qsizetype i = 0; i < length; ++i)
        check = static_cast<std::uint8_t>(check * 31 + text[i].unicode());
    return check;
}

}  // namespace

ProtocolLogPane::ProtocolLogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBar(new LogScrollBar(this));
    // The log is Latin text: shaping each new line changes nothing that shows but the kerning.
    QFont unshaped;
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    setFont(unshaped);
    // An undo history of every appended line would grow without end, and undoing would take
    // traffic out of the log.
    setUndoRedoEnabled(false);
}

ProtocolLogPane::~ProtocolLogPane() {
    if (budget_ != nullptr) budget_->RemoveConsumer(budgetId_);
}

ProtocolLogPane::LineTime ProtocolLogPane::Stamp(const QString& line, std::int64_t now,
                                                 std::int64_t blockMicros, std::size_t blockSize) {
    LineTime time{};
    time.appendedMicros = now;
    time.textLength = static_cast<std::uint8_t>(std::min<qsizetype>(line.size(), 255));
    time.textCheck = TextCheck(line, time.textLength);
    if (blockSize > 0) {
        const std::int64_t lag = std::clamp<std::int64_t>(now - blockMicros, 0, UINT32_MAX);
        time.blockLagMicros = static_cast<std::uint32_t>(lag);
        time.blockSize = static_cast<std::uint16_t>(std::min<std::size_t>(blockSize, UINT16_MAX));
    }
    return time;
}

// A line the operator split, joined or typed over may hold another text at the place the
// appended line had; its time then belongs to nobody.
bool ProtocolLogPane::Matches(const LineTime& time, const QString& text) {
    return text.size() >= time.textLength && TextCheck(text, time.textLength) == time.textCheck;
}

void ProtocolLogPane::AppendLine(const QString& line) {
    const std::size_t size =
        inBlock_ && IsReceivedLine(line) ? std::max<std::size_t>(blockSize_, 1) : 0;
    pendingTimes_.push_back(Stamp(line, UnixMicrosNow(), blockMicros_, size));
    pending_.append(line);
    if (flushScheduled_) return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, [this] { FlushLog(); });
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

    // The new lines are the last blocks; each carries its time's serial number.
    const std::uint32_t firstNew =
        (firstSerial_ + static_cast<std::uint32_t>(times_.size())) & kSerialMask;
    QTextBlock block = document()->lastBlock();
    for (qsizetype i = added - 1; i >= 0 && block.isValid(); --i, block = block.previous())
        block.setUserState(
            static_cast<int>((firstNew + static_cast<std::uint32_t>(i)) & kSerialMask));
    times_.insert(times_.end(), pendingTimes_.begin(), pendingTimes_.end());
    pendingTimes_.clear();

    if (budget_ != nullptr) budget_->Enforce();
}

void ProtocolLogPane::ClearLog() {
    pending_.clear();
    pendingTimes_.clear();
    times_.clear();
    firstSerial_ = 0;
    droppedLines_ = 0;
    trimNotice_.clear();
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
    if (budget_ != nullptr) budget_->RemoveConsumer(budgetId_);
    budget_ = budget;
    notice_ = std::move(notice);
    if (budget_ == nullptr) return;
    budgetId_ = budget_->AddConsumer({[this] { return MemoryBytes(); },
                                      [this](double fraction) { DropOldestFraction(fraction); }});
}

std::uint64_t ProtocolLogPane::MemoryBytes() const {
    const QTextDocument* text = document();
    return std::uint64_t(text->blockCount()) * kDocumentBytesPerLine +
           std::uint64_t(text->characterCount()) * 2 +
           std::uint64_t(times_.size() + pendingTimes_.size()) * sizeof(LineTime);
}

void ProtocolLogPane::DropOldestFraction(double fraction) {
    QTextDocument* text = document();
    const int lines = text->blockCount();
    const int drop = std::min(lines, static_cast<int>(std::ceil(lines * fraction)));
    if (drop <= 0) return;

    QScrollBar* vertical = verticalScrollBar();
    const bool followEnd = vertical->value() == vertical->maximum();
    const int verticalValue = vertical->value();
    int rowsDropped = 0;
    QTextBlock block = text->begin();
    for (int i = 0; i < drop && block.isValid(); ++i, block = block.next())
        rowsDropped += std::max(1, block.lineCount());

    QTextCursor cursor(text);
    if (drop >= lines) {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    } else {
        cursor.setPosition(text->findBlockByNumber(drop).position(), QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();

    // The times of the lines that went: all before the first timed line left.
    std::uint32_t keepFrom =
        (firstSerial_ + static_cast<std::uint32_t>(times_.size())) & kSerialMask;
    for (QTextBlock left = text->begin(); left.isValid(); left = left.next()) {
        if (TimeOf(left.userState()) != nullptr) {
            keepFrom = static_cast<std::uint32_t>(left.userState());
            break;
        }
    }
    const std::size_t gone = (keepFrom - firstSerial_) & kSerialMask;
    times_.erase(times_.begin(),
                 times_.begin() + static_cast<std::ptrdiff_t>(std::min(gone, times_.size())));
    times_.shrink_to_fit();
    firstSerial_ = keepFrom;

    vertical->setValue(followEnd ? vertical->maximum() : std::max(0, verticalValue - rowsDropped));

    droppedLines_ += static_cast<std::uint64_t>(drop);
    trimNotice_ = QStringLiteral("Log: oldest %1 lines dropped to stay within %2")
                      .arg(QString::fromStdString(WithThousands(droppedLines_)),
                           QString::fromStdString(BudgetSizeText(budget_->limit())));
    if (notice_) notice_(trimNotice_);
}

const ProtocolLogPane::LineTime* ProtocolLogPane::TimeOf(int userState) const {
    if (userState < 0) return nullptr;
    const std::uint32_t index =
        (static_cast<std::uint32_t>(userState) - firstSerial_) & kSerialMask;
    return index < times_.size() ? &times_[index] : nullptr;
}

QString ProtocolLogPane::LineToolTip(int blockNumber) const {
    const QTextBlock block = document()->findBlockByNumber(blockNumber);
    if (!block.isValid()) return {};
    QStringList parts;
    if (blockNumber == 0 && !trimNotice_.isEmpty()) parts << trimNotice_;
    const LineTime* time = TimeOf(block.userState());
    if (time != nullptr && Matches(*time, block.text())) {
        QString when = WallClock(time->appendedMicros);
        const std::uint32_t index =
            (static_cast<std::uint32_t>(block.userState()) - firstSerial_) & kSerialMask;
        if (index > 0) {
            const double sinceMs =
                static_cast<double>(time->appendedMicros - times_[index - 1].appendedMicros) /
                1000.0;
            when += QStringLiteral(", %1%2 ms")
                        .arg(sinceMs >= 0 ? QStringLiteral("+") : QString())
                        .arg(sinceMs, 0, 'f', 3);
        }
        parts << when;
        if (time->blockSize > 0 && time->blockLagMicros == UINT32_MAX) {
            parts << QStringLiteral("block of %1 bytes").arg(time->blockSize);  // lag too long
        } else if (time->blockSize > 0) {
            parts << QStringLiteral("block of %1 bytes, first byte at %2")
                         .arg(time->blockSize)
                         .arg(WallClock(time->appendedMicros - time->blockLagMicros));
        }
    }
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
