#include "widgets/digits_panel.h"

#include <QAccessible>
#include <QPainter>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "widgets/display_accessibility.h"
#include "widgets/panel_color.h"

namespace norva {
namespace {

// 10^length, or nothing when every 32-bit magnitude is already below it.
std::optional<std::int64_t> PowerOfTen(int length) {
    std::int64_t power = 1;
    for (int i = 0; i < length; ++i) {
        power *= 10;
        if (power > std::int64_t{1} << 32) return std::nullopt;
    }
    return power;
}

int ClampToWidgetSize(std::int64_t extent) {
    return static_cast<int>(std::clamp<std::int64_t>(extent, 0, QWIDGETSIZE_MAX));
}

}  // namespace

TDigitsPanel::TDigitsPanel(QWidget* owner) : QWidget(owner) {
    InstallDisplayAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Every field is still zero here, so this makes the panel 0 x 0 until it is next sized.
    SetBounds(x(), y(), width(), height());
    bevelOuter_ = BevelStyle::Raised;
    bevelInner_ = BevelStyle::Lowered;
    bevelWidth_ = 2;
    color_ = 0;
    length_ = 4;
    margin_ = 2;
}

void TDigitsPanel::SetDigits(const QImage* strip) {
    if (strip == nullptr) return;
    digits_ = *strip;
    DigitsChanged();
}

void TDigitsPanel::SetBevelOuter(BevelStyle style) {
    bevelOuter_ = style;
    ReapplyBounds();
    update();
}

void TDigitsPanel::SetBevelInner(BevelStyle style) {
    bevelInner_ = style;
    ReapplyBounds();
    update();
}

void TDigitsPanel::SetBevelWidth(std::uint8_t width) {
    bevelWidth_ = width;
    ReapplyBounds();
}

void TDigitsPanel::SetColor(std::uint32_t color) {
    color_ = color;
    update();
}

void TDigitsPanel::SetLength(TDigitsLength length) {
    length_ = length;
    ReapplyBounds();
}

void TDigitsPanel::SetMargin(std::uint8_t margin) {
    margin_ = margin;
    ReapplyBounds();
}

void TDigitsPanel::SetValue(std::int32_t value) {
    // Widened first: the magnitude of INT32_MIN does not fit in 32 signed bits.
    const std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
    const std::optional<std::int64_t> power = PowerOfTen(length_);
    // Only |INT32_MIN| with ten or more digits escapes 32 bits; it keeps its own bit pattern.
    const auto reduced = static_cast<std::int32_t>(power ? magnitude % *power : magnitude);
    const bool changed = reduced != value_;
    value_ = reduced;
    update();
    if (changed && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this,
                                          QVariant::fromValue(static_cast<std::uint32_t>(value_)));
        QAccessible::updateAccessibility(&event);
    }
}

void TDigitsPanel::SetBounds(int left, int top, int /*width*/, int /*height*/) {
    const QSize size = RuleSize();
    // Fixed, so that neither a layout nor a stray resize() can pull the cells apart.
    setFixedSize(size);
    setGeometry(left, top, size.width(), size.height());
}

void TDigitsPanel::DigitsChanged() {
    digitWidth_ = static_cast<std::uint16_t>(std::min(digits_.width() / kGlyphCount, 0xFFFF));
    digitHeight_ = static_cast<std::uint16_t>(std::min(digits_.height(), 0xFFFF));
    // An empty strip has no pixel to take the background from; the colour is left alone.
    if (!digits_.isNull()) color_ = PaletteRelativeColor(digits_.pixel(0, digits_.height() - 1));
    glyphs_ = digits_.isNull() ? QImage()
                               : digits_.convertToFormat(digits_.hasAlphaChannel()
                                                             ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
    ReapplyBounds();
    // A new strip of the same size does not resize, but its glyphs still have to show.
    update();
}

int TDigitsPanel::ShownDigits() const {
    return std::min<int>(length_, kMaxShownDigits);
}

QSize TDigitsPanel::RuleSize() const {
    const std::int64_t bevels =
        (bevelOuter_ != BevelStyle::None ? 1 : 0) + (bevelInner_ != BevelStyle::None ? 1 : 0);
    const std::int64_t frames = 2 * std::int64_t{bevelWidth_} * bevels;
    const std::int64_t width =
        frames + margin_ + (std::int64_t{digitWidth_} + margin_) * ShownDigits();
    const std::int64_t height = frames + margin_ + std::int64_t{digitHeight_} + margin_;
    return {ClampToWidgetSize(width), ClampToWidgetSize(height)};
}

void TDigitsPanel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    Paint(painter);
}

void TDigitsPanel::PaintBevel(QPainter& painter, QRect& area, BevelStyle style) const {
    if (style == BevelStyle::None) return;
    const QColor shadow = ToQColor(kSystemButtonShadow, palette());
    const QColor highlight = ToQColor(kSystemButtonHighlight, palette());
    const QColor& top = style == BevelStyle::Lowered ? shadow : highlight;
    const QColor& bottom = style == BevelStyle::Lowered ? highlight : shadow;
    // Filled rectangles rather than pen lines: they cover whole logical pixels at any
    // device-pixel ratio. The bottom colour goes on last and so owns the two off corners.
    for (int ring = 0; ring < bevelWidth_; ++ring) {
        const QRect r = area.adjusted(ring, ring, -ring, -ring);
        if (r.isEmpty()) break;
        painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), top);
        painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), top);
        painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottom);
        painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottom);
    }
    area.adjust(bevelWidth_, bevelWidth_, -bevelWidth_, -bevelWidth_);
}

void TDigitsPanel::Paint(QPainter& painter) {
    QRect area = rect();
    PaintBevel(painter, area, bevelOuter_);
    PaintBevel(painter, area, bevelInner_);
    if (!area.isEmpty()) painter.fillRect(area, ToQColor(color_, palette()));
    if (glyphs_.isNull() || digitWidth_ == 0 || digitHeight_ == 0) return;

    // Value right-aligned in a field of the shown digit count, blanks in front. A Value wider
    // than the field (Length lowered after it was set) shows its leading digits. Read unsigned,
    // so that the one magnitude past 32 signed bits still shows as digits.
    std::array<char, 16> text{};
    const int textLength = static_cast<int>(
        std::to_chars(text.data(), text.data() + text.size(), static_cast<std::uint32_t>(value_))
            .ptr -
        text.data());
    const int cells = ShownDigits();
    const int padding = std::max(0, cells - textLength);

    QRect cell(area.left() + margin_, area.top() + margin_, digitWidth_, digitHeight_);
    for (int i = 0; i < cells; ++i) {
        const char c = i < padding ? ' ' : text[static_cast<std::size_t>(i - padding)];
        const int glyph = c >= '0' && c <= '9' ? c - '0' : kBlankGlyph;
        painter.drawImage(cell.topLeft(), glyphs_,
                          QRect(glyph * digitWidth_, 0, digitWidth_, digitHeight_));
        cell.translate(digitWidth_ + margin_, 0);
    }
}

}  // namespace norva
