#include "tools/digitstrip/strip_art.h"

#include <cstddef>

namespace norva::digitstrip {
namespace {

struct Point {
    double x;
    double y;
};

using Segment = std::array<Point, 6>;  // a convex hexagon, pointed at both ends

// Every constant below is a short binary fraction, so the geometry is computed exactly and the
// generator writes the same bytes on any conforming compiler.
constexpr double kHalfThickness = 3.0;
constexpr double kJointGap = 1.25;  // how far each tip stops short of the shared corner
constexpr double kSlant = 3.0 / 32.0;
constexpr double kLeft = 8.0;
constexpr double kRight = 30.0;
constexpr double kTop = 7.0;
constexpr double kMiddle = 26.5;
constexpr double kBottom = 46.0;

Point Slanted(double x, double y) {
    return {x + kSlant * (kMiddle - y), y};
}

Segment Horizontal(double y) {
    const double h = kHalfThickness;
    const double x0 = kLeft + kJointGap;
    const double x1 = kRight - kJointGap;
    return {Slanted(x0, y), Slanted(x0 + h, y - h), Slanted(x1 - h, y - h),
            Slanted(x1, y), Slanted(x1 - h, y + h), Slanted(x0 + h, y + h)};
}

Segment Vertical(double x, double top, double bottom) {
    const double h = kHalfThickness;
    const double y0 = top + kJointGap;
    const double y1 = bottom - kJointGap;
    return {Slanted(x, y0), Slanted(x + h, y0 + h), Slanted(x + h, y1 - h),
            Slanted(x, y1), Slanted(x - h, y1 - h), Slanted(x - h, y0 + h)};
}

// Segments in the usual order a (top), b, c, d (bottom), e, f, g (middle).
const std::array<Segment, 7>& Segments() {
    static const std::array<Segment, 7> segments{
        Horizontal(kTop),    Vertical(kRight, kTop, kMiddle),   Vertical(kRight, kMiddle, kBottom),
        Horizontal(kBottom), Vertical(kLeft, kMiddle, kBottom), Vertical(kLeft, kTop, kMiddle),
        Horizontal(kMiddle),
    };
    return segments;
}

// Bit n set = segment n lit; index 10 is the blank.
constexpr std::array<std::uint8_t, kCellCount> kGlyphs{
    0b0111111, 0b0000110, 0b1011011, 0b1001111, 0b1100110, 0b1101101,
    0b1111101, 0b0000111, 0b1111111, 0b1101111, 0b0000000,
};

bool Inside(const Segment& polygon, Point p) {
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const Point a = polygon[i];
        const Point b = polygon[(i + 1) % polygon.size()];
        if ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x) < 0) return false;
    }
    return true;
}

std::uint8_t Shade(std::uint8_t full, int coverage) {
    return static_cast<std::uint8_t>((full * coverage + kCoverageSteps / 2) / kCoverageSteps);
}

Rgb Ramp(Rgb full, int coverage) {
    return {Shade(full.red, coverage), Shade(full.green, coverage), Shade(full.blue, coverage)};
}

// A 4 x 4 grid of samples per pixel; the count of samples inside a segment picks the shade.
std::uint8_t CellPixel(std::uint8_t glyph, int x, int y) {
    int lit = 0;
    int unlit = 0;
    for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
            const Point p{x + (2 * sx + 1) / 8.0, y + (2 * sy + 1) / 8.0};
            for (std::size_t s = 0; s < Segments().size(); ++s) {
                if (!Inside(Segments()[s], p)) continue;
                ++((glyph >> s) & 1 ? lit : unlit);
                break;
            }
        }
    }
    if (lit == 0 && unlit == 0) return kBackgroundIndex;
    if (lit >= unlit) return static_cast<std::uint8_t>(kLitIndex - kCoverageSteps + lit);
    return static_cast<std::uint8_t>(kUnlitIndex - kCoverageSteps + unlit);
}

}  // namespace

StripImage DrawDigitStrip() {
    StripImage image;
    image.palette[kBackgroundIndex] = kBackground;
    for (int coverage = 1; coverage <= kCoverageSteps; ++coverage) {
        image.palette[kLitIndex - kCoverageSteps + coverage] = Ramp(kLit, coverage);
        image.palette[kUnlitIndex - kCoverageSteps + coverage] = Ramp(kUnlit, coverage);
    }
    image.pixels.assign(static_cast<std::size_t>(kStripWidth) * kStripHeight, kBackgroundIndex);
    for (int cell = 0; cell < kCellCount; ++cell) {
        for (int y = 0; y < kCellHeight; ++y) {
            for (int x = 0; x < kCellWidth; ++x) {
                image.pixels[static_cast<std::size_t>(y) * kStripWidth + cell * kCellWidth + x] =
                    CellPixel(kGlyphs[cell], x, y);
            }
        }
    }
    return image;
}

}  // namespace norva::digitstrip
