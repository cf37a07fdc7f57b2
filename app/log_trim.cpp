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
// Qt's compaction copies the whole text: about 3 ns a character on an idle machine here, up to
// three times that on a busy one; the figure follows the compactions seen.
constexpr double kFirstCompactionNsPerCharacter = 6;
// Allocations this large get pages of their own, which go back to the system when freed. Left to
// itself glibc raises the bar up to 32 MB as large blocks are freed, and the document's buffers
// of a few megabytes then stay in the heap, freed but held.
constexpr int kOwnPagesFrom = 1024 * 1024;
// A step that took longer than this with nothing to do but compact did compact.
constexpr auto kCompactionSeen = std::chrono::milliseconds(2);
// Room left before the next poll besides the compaction's own time.
constexpr auto kPollMargin = std::chrono::milliseconds(50);
// A piece removed with undo off, which lets Qt compact, comes once this share of the text went
// in since the last one: a log sitting just under a power of two, which Qt compacts at each such
// piece, would otherwise fill its buffer before the next one and have Qt double it.
constexpr int kCountedPieceShare = 20;
// Right after a poll is the quietest moment there is, whatever a compaction takes.
constexpr auto kJustAfterPoll = std::chrono::milliseconds(200);

}  // namespace

LogTrim::LogTrim(QPlainTextEdit& pane, LogLineTimes& times)
    : pane_(pane), times_(times), compactionNsPerCharacter_(kFirstCompactionNsPerCharacter) {
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
    ::mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom);
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

void LogTrim::Appended(qsizetype lines, qsizetype characters, bool afterPoll) {
    appendedSinceCounted_ += static_cast<std::uint64_t>(characters);
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
    appendedSinceCounted_ = 0;
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

// One piece a turn. Once a twentieth of the text has gone in since the last, a piece goes with
// undo off at a quiet moment, which lets Qt compact its buffer if it is nine tenths full. After
// the other pieces at a quiet moment undo goes off for an instant, so that a compaction still
// due, the buffer not full enough at the last such piece, comes as soon as it is.
void LogTrim::Step() {
    const std::uint64_t allowance = kPieceLines + std::exchange(appendedSinceStep_, 0);
    if (toDrop_ == 0) return;
    const Clock::time_point now = Clock::now();
    const bool quiet = QuietNow(now);
    const bool counted =
        quiet && appendedSinceCounted_ * kCountedPieceShare >=
                     static_cast<std::uint64_t>(pane_.document()->characterCount());
    if (counted) appendedSinceCounted_ = 0;
    Remove(std::min(toDrop_, allowance), counted);
    QTextDocument* text = pane_.document();
    if (!counted && quiet) {
        // Turning undo off does nothing but compact when that is due: a long one did.
        const Clock::time_point from = Clock::now();
        text->setUndoRedoEnabled(false);
        text->setUndoRedoEnabled(true);
        const Clock::duration took = Clock::now() - from;
        if (took > kCompactionSeen) {
            const double nsPerCharacter =
                static_cast<double>(std::chrono::nanoseconds(took).count()) /
                std::max(1, text->characterCount());
            compactionNsPerCharacter_ = std::max(compactionNsPerCharacter_ * 0.98, nsPerCharacter);
        }
    }
    // What a compaction and the removed lines set free goes back to the system.
    if (counted) ::malloc_trim(0);
    if (toDrop_ > 0) stepTimer_.start();
}

LogTrim::Clock::duration LogTrim::CompactionEstimate() const {
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>(compactionNsPerCharacter_ * pane_.document()->characterCount()));
}

// Any time while no poll is expected (fewer than two seen, or none for two intervals), and just
// after a poll.
bool LogTrim::QuietNow(Clock::time_point now) const {
    const Clock::duration since = now - lastPoll_;
    if (pollGap_ == Clock::duration{} || since > 2 * pollGap_ || since < kJustAfterPoll)
        return true;
    // Twice the estimate: the same compaction takes three times as long when the machine is busy.
    return now + 2 * CompactionEstimate() + kPollMargin < lastPoll_ + pollGap_;
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
