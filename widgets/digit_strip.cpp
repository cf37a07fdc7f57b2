#include <QtCore/qresource.h>
#include <QImage>

#include "widgets/digits_panel.h"

// Resources compiled into a static library are registered only when asked for; the macro has
// to be used outside any namespace.
static void RegisterDigitStripResource() {
    Q_INIT_RESOURCE(digit_strip);
}

namespace norva {

const QImage& DigitStrip() {
    static const QImage strip = [] {
        RegisterDigitStripResource();
        return QImage(QStringLiteral(":/widgets/digit_strip.bmp"));
    }();
    return strip;
}

}  // namespace norva
