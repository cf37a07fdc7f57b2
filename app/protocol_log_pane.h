#pragma once

#include <QPlainTextEdit>
#include <QStringList>

namespace norva {

// The protocol log: a plain-text pane that the operator may also type in. Lines appended during
// one event are collected and added in a single edit when the event is over (or on FlushLog),
// which keeps a burst of traffic cheap. Appending never moves the operator's text cursor or
// selection, and scrolls only when the view was already at the end.
class ProtocolLogPane : public QPlainTextEdit {
public:
    explicit ProtocolLogPane(QWidget* parent);

    void AppendLine(const QString& line);
    void FlushLog();
    // Empties the pane and forgets lines not yet shown.
    void ClearLog();
    // What the log holds once every pending line is shown.
    QString LogText() const;
    bool HasPendingLines() const { return !pending_.isEmpty(); }

private:
    QStringList pending_;
    bool flushScheduled_ = false;
};

}  // namespace norva
