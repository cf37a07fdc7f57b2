#include "app/protocol_log_pane.h"

#include <QPaintEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

#include <tuple>

namespace norva {

namespace {

// A bar that repaints when what it shows changes. Every appended line changes the range, and a
// repaint of the bar (with the frame and window under it, and the style's gradients spread over
// the painting thread pool) was most of a poll cycle's cost; past a few hundred lines the slider
// no longer moves by a pixel.
class LogScrollBar : public QScrollBar {
public:
    explicit LogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

protected:
    // Part-way through a change (the range grown, the value not yet at the new end) the bar
    // looks different for a moment, so the look is compared once the change is over.
    void sliderChange(SliderChange change) override {
        if (change != SliderRangeChange && change != SliderValueChange) {
            QScrollBar::sliderChange(change);
            return;
        }
        if (checkPending_) return;
        checkPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                checkPending_ = false;
                if (!painted_ || Look() != paintedLook_) update();
            },
            Qt::QueuedConnection);
    }

    // A paint of part of the bar (the window under it was repainted) leaves the rest as it was.
    void paintEvent(QPaintEvent* event) override {
        const Appearance now = Look();
        if ((QRegion(rect()) - event->region()).isEmpty()) {
            paintedLook_ = now;
            painted_ = true;
        } else if (!painted_ || now != paintedLook_) {
            QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
        }
        QScrollBar::paintEvent(event);
    }

private:
    // Everything the range and the value decide in the picture: where the slider is and
    // which end arrows are live.
    using Appearance = std::tuple<QRect, bool, bool, bool>;
    Appearance Look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, this);
        return {slider, minimum() == maximum(), value() == minimum(), value() == maximum()};
    }

    Appearance paintedLook_;
    bool painted_ = false;
    bool checkPending_ = false;
};

}  // namespace

ProtocolLogPane::ProtocolLogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBar(new LogScrollBar(this));
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
