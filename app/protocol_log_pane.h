#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class QAction;

namespace norva {

class MemoryBudget;

// The protocol log: a plain-text pane that the operator may also type in. Lines appended during
// one event are collected and added in a single edit when the event is over (or on FlushLog),
// which keeps a burst of traffic cheap. Appending never moves the operator's text cursor or
// selection, and scrolls only when the view was already at the end. Each appended line keeps
// the moment it was appended (and a received line its block), shown in its tooltip; under a
// memory budget the oldest lines go when the budget is passed.
class ProtocolLogPane : public QPlainTextEdit {
public:
    explicit ProtocolLogPane(QWidget* parent);
    ~ProtocolLogPane() override;

    void AppendLine(const QString& line);
    void FlushLog();
    // Empties the pane and forgets lines not yet shown, their times and the dropped count.
    void ClearLog();
    // What the log holds once every pending line is shown.
    QString LogText() const;
    bool HasPendingLines() const { return !pending_.isEmpty(); }
    // The lines exactly as the pane shows them; none for an empty pane.
    QStringList ShownLines() const;

    // Received lines appended between the two come from this block.
    void BeginReceivedBlock(std::int64_t firstByteUnixMicros, std::size_t size);
    void EndReceivedBlock();

    // The pane's text and times count against the budget; notice gets the text to show each
    // time the oldest lines were dropped.
    void AttachBudget(MemoryBudget* budget, std::function<void(const QString&)> notice);
    // What the pane's lines and their times take, as the budget counts it.
    std::uint64_t MemoryBytes() const;
    QString TrimNotice() const { return trimNotice_; }

    // Actions shown after Qt's own entries in the context menu, each group after a separator.
    void AddContextActions(const QList<QAction*>& actions);
    // The tooltip text for the line (block number) at that place; empty when there is none.
    QString LineToolTip(int blockNumber) const;

protected:
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct LineTime {
        std::int64_t appendedMicros;
        std::uint32_t blockLagMicros;  // block's first byte to this line, saturated
        std::uint16_t blockSize;       // 0: not a received line
        std::uint8_t textLength;       // the line as appended, to tell an edited-away line
        std::uint8_t textCheck;
    };
    static_assert(sizeof(LineTime) == 16);

    static LineTime Stamp(const QString& line, std::int64_t now, std::int64_t blockMicros,
                          std::size_t blockSize);
    static bool Matches(const LineTime& time, const QString& text);
    const LineTime* TimeOf(int userState) const;
    void DropOldestFraction(double fraction);

    QStringList pending_;
    std::vector<LineTime> pendingTimes_;
    bool flushScheduled_ = false;
    std::deque<LineTime> times_;
    std::uint32_t firstSerial_ = 0;  // serial of times_.front(), modulo 2^31
    bool inBlock_ = false;
    std::int64_t blockMicros_ = 0;
    std::size_t blockSize_ = 0;
    MemoryBudget* budget_ = nullptr;
    int budgetId_ = 0;
    std::function<void(const QString&)> notice_;
    std::uint64_t droppedLines_ = 0;
    QString trimNotice_;
    QList<QList<QAction*>> contextGroups_;
};

}  // namespace norva
