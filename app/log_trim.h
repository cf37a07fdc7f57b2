#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

class QPlainTextEdit;

namespace norva {

class LogLineTimes;
class MemoryBudget;

// Keeps the log pane within its share of the memory budget. The oldest lines the budget asks
// for go in pieces, one a turn of the event loop, so that polls, answers and paints go on during
// a trim whatever the size of the budget. Qt's text document keeps removed text in its buffer
// until it compacts it, a copy of the whole log; that copy is steered to just after a poll, or to
// where it ends before the next one, so that it delays no poll.
class LogTrim : public QObject {
public:
    // A piece removes at most this many lines plus as many as were appended since the step
    // before, so that a trim ends under any flood the engine hands over.
    static constexpr int kPieceLines = 4096;

    LogTrim(QPlainTextEdit& pane, LogLineTimes& times);
    ~LogTrim() override;

    // notice gets the text to show while lines are being dropped and when a trim ends.
    void Attach(MemoryBudget* budget, std::function<void(const QString&)> notice);
    // What the pane's lines take as the budget counts them, those on their way out left aside.
    std::uint64_t CountedBytes() const;
    // Lines went in, with their separators this many characters; afterPoll when a poll line was
    // among them.
    void Appended(qsizetype lines, qsizetype characters, bool afterPoll);
    // Forgets any trim under way and the count of dropped lines.
    void Clear();

    QString notice() const { return notice_; }
    std::uint64_t droppedLines() const { return dropped_; }
    std::uint64_t linesToDrop() const { return toDrop_; }

private:
    using Clock = std::chrono::steady_clock;

    void DropOldestFraction(double fraction);
    void Step();
    // True when Qt's compaction, if it came now, would be over before the next poll is due.
    bool QuietNow(Clock::time_point now) const;
    Clock::duration CompactionEstimate() const;
    void Remove(std::uint64_t lines, bool counted);
    void Tell();

    QPlainTextEdit& pane_;
    LogLineTimes& times_;
    MemoryBudget* budget_ = nullptr;
    int budgetId_ = 0;
    std::function<void(const QString&)> tell_;
    QTimer stepTimer_;
    std::uint64_t toDrop_ = 0;
    std::uint64_t appendedSinceStep_ = 0;
    std::uint64_t dropped_ = 0;
    int piecesSinceNotice_ = 0;
    Clock::time_point lastPoll_{};
    Clock::duration pollGap_{};
    std::uint64_t appendedSinceCounted_ = 0;
    double compactionNsPerCharacter_;
    QString notice_;
};

}  // namespace norva
