#include "app/log_trim.h"

#include <malloc.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/log_line_times.h"
#include "app/memory_budget.h"

namespace norva {

namespace {

// What a line costs in Qt's text document besides its text: its block and its two fragments
// (the line and its separator), measured with the bench's log lines.
constexpr std::uint64_t kDocumentBytesPerLine = 144;
// Each character is two bytes in the document's buffer, which also keeps removed text until it
// is compacted, and compacting copies the text left: up to three times the text at its peak.
constexpr std::uint64_t kBytesPerCharacter = 6;
// While a long trim goes on, the status bar's count moves on this often (pieces).
constexpr int kPiecesPerNotice = 32;
// Qt's compaction copies the whole text, about 3 ns a character here: below this size it
// delays nothing that matters, whenever it comes.
constexpr int kCheapCompactionCharacters = 16 * 1024 * 1024;
// A piece removed with undo off, which lets Qt compact, comes at most this often.
constexpr auto kCountedPieceEvery = std::chrono::seconds(1);

}  // namespace

LogTrim::LogTrim(QPlainTextEdit& pane, LogLineTimes& times) : pane_(pane), times_(times) {
    // QTextDocument keeps removed text in its buffer and compacts the buffer, copying all the
    // text left, at the first edit after 96 KB were removed with undo off and once the buffer is
    // nine tenths full. Text removed with undo on does not count towards it, and with undo on it
    // does not compact at all: so it compacts only when a piece is removed, or undo turned off
    // for a moment, on purpose (see Step). The history is emptied as soon as a command lands in
    // it: the operator cannot undo traffic out of the log, and it costs no memory.
    QTextDocument* text = pane_.document();
    text->setUndoRedoEnabled(true);
    connect(text, &QTextDocument::undoCommandAdded, this, [text] { text->clearUndoRedoStacks(); });

    stepTimer_.setSingleShot(true);
    stepTimer_.setInterval(0);
    connect(&stepTimer_, &QTimer::timeout, this, &LogTrim::Step);
}

LogTrim::~LogTrim() {
    if (budget_ != nullptr) budget_->RemoveConsumer(budgetId_);
}

void LogTrim::Attach(MemoryBudget* budget, std::function<void(const QString&)> notice) {
    if (budget_ != nullptr) budget_->RemoveConsumer(budgetId_);
    budget_ = budget;
    tell_ = std::move(notice);
    if (budget_ == nullptr) {
        Clear();
        return;
    }
    budgetId_ = budget_->AddConsumer({[this] { return CountedBytes(); },
                                      [this](double fraction) { DropOldestFraction(fraction); }});
}

std::uint64_t LogTrim::CountedBytes() const {
    const QTextDocument* text = pane_.document();
    const auto lines = static_cast<std::uint64_t>(text->blockCount());
    const std::uint64_t bytes = lines * kDocumentBytesPerLine +
                                std::uint64_t(text->characterCount()) * kBytesPerCharacter +
                                times_.Count() * LogLineTimes::kBytesPerLine;
    const std::uint64_t staying = lines - std::min(toDrop_, lines);
    return static_cast<std::uint64_t>(static_cast<double>(bytes) * static_cast<double>(staying) /
                                      static_cast<double>(std::max<std::uint64_t>(lines, 1)));
}

void LogTrim::Appended(qsizetype lines, bool afterPoll) {
    // Only what came in while a step was due adds to the next piece: lines that came while the
    // trim waited or rested are in the budget's count, hence in what it asks to drop.
    appendedSinceStep_ =
        (stepTimer_.isActive() ? appendedSinceStep_ : 0) + static_cast<std::uint64_t>(lines);
    if (afterPoll) {
        const Clock::time_point now = Clock::now();
        pollGap_ = lastPoll_ != Clock::time_point{} ? now - lastPoll_ : Clock::duration{};
        lastPoll_ = now;
    }
    if (budget_ != nullptr) budget_->Enforce();
}

void LogTrim::Clear() {
    stepTimer_.stop();
    toDrop_ = 0;
    appendedSinceStep_ = 0;
    dropped_ = 0;
    piecesSinceNotice_ = 0;
    notice_.clear();
}

void LogTrim::DropOldestFraction(double fraction) {
    const auto lines = static_cast<std::uint64_t>(pane_.document()->blockCount());
    const std::uint64_t staying = lines - std::min(toDrop_, lines);
    const auto more =
        static_cast<std::uint64_t>(std::ceil(static_cast<double>(staying) * fraction));
    if (more == 0) return;
    toDrop_ = std::min(lines, toDrop_ + more);
    stepTimer_.start();
}

// One piece a turn. A piece with undo off, which lets Qt compact its buffer when it is due, is
// removed now and then in a quiet spell; after every other piece undo goes off for a moment, so
// that the compaction comes as soon as the buffer is nine tenths full, where that is cheap or
// the spell quiet. Without such chances a flood could fill the buffer past that point between
// two spells and have Qt double it.
void LogTrim::Step() {
    const std::uint64_t allowance = kPieceLines + std::exchange(appendedSinceStep_, 0);
    if (toDrop_ == 0) return;
    const Clock::time_point now = Clock::now();
    const bool quiet = QuietNow(now);
    const bool counted = quiet && now - lastCounted_ >= kCountedPieceEvery;
    if (counted) lastCounted_ = now;
    Remove(std::min(toDrop_, allowance), counted);
    QTextDocument* text = pane_.document();
    if (counted) {
        // What a compaction and the removed lines set free goes back to the system.
        ::malloc_trim(0);
    } else if (quiet || text->characterCount() < kCheapCompactionCharacters) {
        text->setUndoRedoEnabled(false);
        text->setUndoRedoEnabled(true);
    }
    if (toDrop_ > 0) stepTimer_.start();
}

// The first half of a poll interval, as the last two poll lines tell it; any time while no poll
// is expected.
bool LogTrim::QuietNow(Clock::time_point now) const {
    if (pollGap_ == Clock::duration{}) return true;
    const Clock::duration since = now - lastPoll_;
    return since > 2 * pollGap_ || since < pollGap_ / 2;
}

void LogTrim::Remove(std::uint64_t lines, bool counted) {
    QTextDocument* text = pane_.document();
    const int count = text->blockCount();
    const int drop = static_cast<int>(std::min<std::uint64_t>(lines, std::uint64_t(count)));
    QScrollBar* vertical = pane_.verticalScrollBar();
    const bool followEnd = vertical->value() == vertical->maximum();
    const int verticalValue = vertical->value();

    int rowsDropped = 0;
    QTextBlock firstKept = text->begin();
    for (int i = 0; i < drop && firstKept.isValid(); ++i, firstKept = firstKept.next())
        rowsDropped += std::max(1, firstKept.lineCount());
    QTextCursor cursor(text);
    if (firstKept.isValid()) {
        cursor.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    if (counted) text->setUndoRedoEnabled(false);
    cursor.removeSelectedText();
    if (counted) text->setUndoRedoEnabled(true);
    times_.ForgetRemoved(*text);
    vertical->setValue(followEnd ? vertical->maximum() : std::max(0, verticalValue - rowsDropped));

    toDrop_ -= std::min<std::uint64_t>(toDrop_, lines);
    dropped_ += static_cast<std::uint64_t>(drop);
    if (toDrop_ == 0 || ++piecesSinceNotice_ >= kPiecesPerNotice) Tell();
}

void LogTrim::Tell() {
    piecesSinceNotice_ = 0;
    if (budget_ == nullptr) return;
    notice_ = QStringLiteral("Log: oldest %1 lines dropped to stay within %2")
                  .arg(QString::fromStdString(WithThousands(dropped_)),
                       QString::fromStdString(BudgetSizeText(budget_->limit())));
    if (tell_) tell_(notice_);
}

}  // namespace norva
