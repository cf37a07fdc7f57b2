#include "app/log_scroll_bar.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include <algorithm>

namespace norva {

namespace {

// Draws the bar in bands lower than the height at which Qt's raster engine slices a fill for its
// worker threads, each band on an image of its own, so the same picture costs this thread alone.
class BandedScrollBarStyle : public QProxyStyle {
public:
    explicit BandedScrollBarStyle(QStyle* base) : QProxyStyle(base) {}

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        if (control != CC_ScrollBar || option->rect.height() < kBand) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        // Bands outside the region being painted would be drawn only to be clipped away.
        const auto* bar = dynamic_cast<const LogScrollBar*>(widget);
        const QRegion wanted = bar != nullptr ? bar->PaintRegion() : QRegion(option->rect);
        const qreal ratio = painter->device()->devicePixelRatio();
        for (int top = option->rect.top(); top <= option->rect.bottom(); top += kBand) {
            const QRect band(option->rect.left(), top, option->rect.width(),
                             std::min(kBand, option->rect.bottom() + 1 - top));
            if (!wanted.intersects(band)) continue;
            QImage image(band.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            QPainter bandPainter(&image);
            bandPainter.setFont(painter->font());
            bandPainter.setPen(painter->pen());
            bandPainter.setBrush(painter->brush());
            bandPainter.translate(-band.topLeft());
            QProxyStyle::drawComplexControl(control, option, &bandPainter, widget);
            bandPainter.end();
            painter->drawImage(band.topLeft(), image);
        }
    }

private:
    static constexpr int kBand = 64;
};

}  // namespace

LogScrollBar::LogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
    auto* banded = new BandedScrollBarStyle(QStyleFactory::create(style()->name()));
    banded->setParent(this);
    setStyle(banded);
}

// Part-way through a change (the range grown, the value not yet at the new end) the bar looks
// different for a moment, so the look is compared once the change is over.
void LogScrollBar::sliderChange(SliderChange change) {
    if (change != SliderRangeChange && change != SliderValueChange) {
        QScrollBar::sliderChange(change);
        return;
    }
    ScheduleCatchUp();
}

// A paint of part of the bar (the window under it was repainted) leaves the rest as it was.
void LogScrollBar::paintEvent(QPaintEvent* event) {
    if ((QRegion(rect()) - event->region()).isEmpty()) {
        shownLook_ = Look();
        painted_ = true;
    } else if (!painted_ || Look() != shownLook_) {
        ScheduleCatchUp();
    }
    paintRegion_ = event->region();
    inPaint_ = true;
    QScrollBar::paintEvent(event);
    inPaint_ = false;
}

void LogScrollBar::ScheduleCatchUp() {
    if (checkPending_) return;
    checkPending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { CatchUp(); }, Qt::QueuedConnection);
}

// When only the slider moved, only where it was and where it is now are drawn again.
void LogScrollBar::CatchUp() {
    checkPending_ = false;
    const Appearance now = Look();
    if (!painted_) {
        update();
        return;
    }
    if (now == shownLook_) return;
    const bool onlySliderMoved = std::get<1>(now) == std::get<1>(shownLook_) &&
                                 std::get<2>(now) == std::get<2>(shownLook_) &&
                                 std::get<3>(now) == std::get<3>(shownLook_);
    if (onlySliderMoved) {
        update((std::get<0>(shownLook_) | std::get<0>(now)).adjusted(0, -1, 0, 1));
    } else {
        update();
    }
    shownLook_ = now;
}

LogScrollBar::Appearance LogScrollBar::Look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect slider =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    return {slider, minimum() == maximum(), value() == minimum(), value() == maximum()};
}

}  // namespace norva
