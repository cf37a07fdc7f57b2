#pragma once

#include <QColor>
#include <QPalette>
#include <QRgb>

#include <cstdint>

namespace norva {

// A stored colour is 32 bits: red in the lowest byte, then green and blue, and a flag byte on top.
// Flag 0x80 means the low byte indexes a system colour; 0x02 marks a palette-relative RGB.
inline constexpr std::uint32_t kSystemColorFlag = 0x80000000;
inline constexpr std::uint32_t kPaletteRelativeFlag = 0x02000000;
inline constexpr std::uint32_t kSystemButtonShadow = kSystemColorFlag | 16;
inline constexpr std::uint32_t kSystemButtonHighlight = kSystemColorFlag | 20;

// System colours come from the palette; unknown system indices fall back to the window colour.
// Any flag other than 0x80 is read as a plain RGB.
QColor ToQColor(std::uint32_t color, const QPalette& palette);

// The palette-relative value of a pixel, as the digits panel takes its background from a strip.
std::uint32_t PaletteRelativeColor(QRgb rgb);

}  // namespace norva
