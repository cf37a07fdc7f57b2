#include "app/protocol_log_pane.h"

#include <QScrollBar>
#include <QTimer>

namespace norva {

ProtocolLogPane::ProtocolLogPane(QWidget* parent) : QPlainTextEdit(parent) {
    // An undo history of every appended line would grow without end, and undoing would take
    // traffic out of the log.
    setUndoRedoEnabled(false);
}

void ProtocolLogPane::AppendLine(const QString& line) {
    pending_.append(line);
    if (flushScheduled_) return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, [this] { FlushLog(); });
}

void ProtocolLogPane::FlushLog() {
    flushScheduled_ = false;
    if (pending_.isEmpty()) return;
    const QString text = pending_.join(u'\n');
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
}

void ProtocolLogPane::ClearLog() {
    pending_.clear();
    clear();
}

QString ProtocolLogPane::LogText() const {
    if (pending_.isEmpty()) return toPlainText();
    const QString shown = toPlainText();
    const QString waiting = pending_.join(u'\n');
    return document()->isEmpty() ? waiting : shown + u'\n' + waiting;
}

}  // namespace norva
