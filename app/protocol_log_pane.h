#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QStringList>

#include <cstdint>
#include <functional>

#include "app/log_line_times.h"
#include "app/log_trim.h"

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

    void AppendLine(const QString& line);
    // The line appended last stands for a byte that did not go out; its tooltip says why.
    void MarkLastLineNotWritten(const QString& reason);
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

    // The pane's text and times count against the budget; notice gets the text to show as the
    // oldest lines are dropped.
    void AttachBudget(MemoryBudget* budget, std::function<void(const QString&)> notice);
    // What the pane's lines and their times take, as the budget counts it.
    std::uint64_t MemoryBytes() const { return trim_.CountedBytes(); }
    QString TrimNotice() const { return trim_.notice(); }
    const LogTrim& Trim() const { return trim_; }

    // Actions shown after Qt's own entries in the context menu, each group after a separator.
    void AddContextActions(const QList<QAction*>& actions);
    // The tooltip text for the line (block number) at that place; empty when there is none.
    QString LineToolTip(int blockNumber) const;

protected:
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QStringList pending_;
    bool pollPending_ = false;
    bool flushScheduled_ = false;
    bool inBlock_ = false;
    std::int64_t blockMicros_ = 0;
    std::size_t blockSize_ = 0;
    LogLineTimes times_;
    LogTrim trim_;
    QList<QList<QAction*>> contextGroups_;
};

}  // namespace norva
