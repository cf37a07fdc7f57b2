#include "widgets/panel_color.h"

namespace norva {
namespace {

struct SystemRole {
    std::uint8_t index;
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// Indices as stored in window layouts, mapped to the nearest role of a Qt palette.
constexpr SystemRole kSystemRoles[] = {
    {5, QPalette::Current, QPalette::Base},
    {6, QPalette::Current, QPalette::Shadow},
    {8, QPalette::Current, QPalette::Text},
    {10, QPalette::Current, QPalette::Button},
    {11, QPalette::Current, QPalette::Button},
    {13, QPalette::Current, QPalette::Highlight},
    {14, QPalette::Current, QPalette::HighlightedText},
    {15, QPalette::Current, QPalette::Button},
    {16, QPalette::Current, QPalette::Dark},
    {17, QPalette::Disabled, QPalette::Text},
    {18, QPalette::Current, QPalette::ButtonText},
    {20, QPalette::Current, QPalette::Light},
    {21, QPalette::Current, QPalette::Shadow},
    {22, QPalette::Current, QPalette::Midlight},
    {23, QPalette::Current, QPalette::ToolTipText},
    {24, QPalette::Current, QPalette::ToolTipBase},
};

QColor SystemColor(std::uint8_t index, const QPalette& palette) {
    for (const SystemRole& entry : kSystemRoles) {
        if (entry.index == index) return palette.color(entry.group, entry.role);
    }
    return palette.color(QPalette::Window);
}

}  // namespace

QColor ToQColor(std::uint32_t color, const QPalette& palette) {
    if ((color & 0xFF000000) == kSystemColorFlag) {
        return SystemColor(static_cast<std::uint8_t>(color), palette);
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

std::uint32_t PaletteRelativeColor(QRgb rgb) {
    return kPaletteRelativeFlag | static_cast<std::uint32_t>(qRed(rgb)) |
           static_cast<std::uint32_t>(qGreen(rgb)) << 8 |
           static_cast<std::uint32_t>(qBlue(rgb)) << 16;
}

}  // namespace norva
