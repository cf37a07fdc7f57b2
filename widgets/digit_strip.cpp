#include <QImage>

#include "widgets/digits_panel.h"

namespace norva {

const QImage& DigitStrip() {
    static const QImage strip(QStringLiteral(":/widgets/digit_strip.bmp"));
    return strip;
}

}  // namespace norva
