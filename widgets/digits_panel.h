#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstdint>

class QPainter;
class QPaintEvent;

namespace norva {

// Digit count of a panel. 1..8 as designed; a larger count is stored and reduces the value by
// its own power of ten, but shows as 8 cells, and 0 shows no cells.
using TDigitsLength = std::uint8_t;

// A row of seven-segment digits copied unscaled out of a digit strip: eleven cells side by side,
// the digits 0 to 9 and a blank. The panel sizes itself from the strip, Length, Margin and its
// bevels, and paints every pixel of its area.
//
// The strip is kept as given (the program's own is Format_Indexed8, as loaded); a copy converted
// once to a 32-bit format is what gets painted, so a paint is a plain blit per cell. Strip pixels
// are logical pixels: at a device-pixel ratio of 2 each becomes a 2 x 2 block, never smoothed.
class TDigitsPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QImage Digits READ Digits WRITE SetDigits)
    Q_PROPERTY(BevelStyle BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(BevelStyle BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(quint8 BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(quint32 Color READ Color WRITE SetColor)
    Q_PROPERTY(quint8 Length READ Length WRITE SetLength)
    Q_PROPERTY(quint8 Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(qint32 Value READ Value WRITE SetValue)

public:
    enum class BevelStyle : std::uint8_t { None = 0, Lowered = 1, Raised = 2, Space = 3 };
    Q_ENUM(BevelStyle)

    static constexpr int kGlyphCount = 11;
    static constexpr int kBlankGlyph = 10;
    static constexpr int kMaxShownDigits = 8;

    explicit TDigitsPanel(QWidget* owner);

    const QImage& Digits() const { return digits_; }
    std::uint16_t DigitWidth() const { return digitWidth_; }
    std::uint16_t DigitHeight() const { return digitHeight_; }
    BevelStyle BevelOuter() const { return bevelOuter_; }
    BevelStyle BevelInner() const { return bevelInner_; }
    std::uint8_t BevelWidth() const { return bevelWidth_; }
    std::uint32_t Color() const { return color_; }
    TDigitsLength Length() const { return length_; }
    std::uint8_t Margin() const { return margin_; }
    std::int32_t Value() const { return value_; }

    // Copies the strip; a null pointer is ignored.
    void SetDigits(const QImage* strip);
    void SetDigits(const QImage& strip) { SetDigits(&strip); }
    void SetBevelOuter(BevelStyle style);
    void SetBevelInner(BevelStyle style);
    void SetBevelWidth(std::uint8_t width);
    void SetColor(std::uint32_t color);
    // Stored unchanged, even outside 1..8; Value keeps what it holds.
    void SetLength(TDigitsLength length);
    void SetMargin(std::uint8_t margin);
    // Stores |value| mod 10^Length, for every Length; INT32_MIN is handled without overflow.
    void SetValue(std::int32_t value);

    // Keeps left and top; width and height always come from the size rule.
    void SetBounds(int left, int top, int width, int height);

protected:
    // Runs whenever the strip changes: cell size, background colour, size.
    void DigitsChanged();
    void Paint(QPainter& painter);
    void paintEvent(QPaintEvent* event) override;

private:
    int ShownDigits() const;
    QSize RuleSize() const;
    void ReapplyBounds() { SetBounds(x(), y(), 0, 0); }
    void PaintBevel(QPainter& painter, QRect& area, BevelStyle style) const;

    QImage digits_;
    QImage glyphs_;  // digits_ in a format the painter copies without converting
    std::uint16_t digitWidth_ = 0;
    std::uint16_t digitHeight_ = 0;
    BevelStyle bevelOuter_ = BevelStyle::None;
    BevelStyle bevelInner_ = BevelStyle::None;
    std::uint8_t bevelWidth_ = 0;
    std::uint32_t color_ = 0;
    TDigitsLength length_ = 0;
    std::uint8_t margin_ = 0;
    std::int32_t value_ = 0;
};

// The program's digit strip, read once from the resources: 418 x 53, Format_Indexed8. A null
// image if the resource is missing, which a panel shows as frames on its background.
const QImage& DigitStrip();

}  // namespace norva

// The main window names the control without its namespace.
using norva::TDigitsPanel;
