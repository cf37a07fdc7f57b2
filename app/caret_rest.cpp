#include "app/caret_rest.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>

namespace norva {

CaretRest::CaretRest(QObject* parent, int restMs)
    : QObject(parent), flashTime_(QGuiApplication::styleHints()->cursorFlashTime()) {
    rest_.setSingleShot(true);
    rest_.setInterval(restMs);
    connect(&rest_, &QTimer::timeout, this, [this] { Rest(); });
    QCoreApplication::instance()->installEventFilter(this);
    rest_.start();
}

CaretRest::~CaretRest() {
    Wake();
}

bool CaretRest::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
        case QEvent::InputMethod:
            Wake();
            rest_.start();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void CaretRest::Rest() {
    // A blink-free desktop has nothing to stop.
    if (resting_ || flashTime_ <= 0) return;
    resting_ = true;
    QGuiApplication::styleHints()->setCursorFlashTime(0);
}

void CaretRest::Wake() {
    if (!resting_) return;
    resting_ = false;
    QGuiApplication::styleHints()->setCursorFlashTime(flashTime_);
}

}  // namespace norva
