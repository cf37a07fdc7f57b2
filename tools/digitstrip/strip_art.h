#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace norva::digitstrip {

inline constexpr int kCellWidth = 38;
inline constexpr int kCellHeight = 53;
inline constexpr int kCellCount = 11;  // digits 0 to 9, then the blank
inline constexpr int kStripWidth = kCellWidth * kCellCount;
inline constexpr int kStripHeight = kCellHeight;

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

inline constexpr Rgb kBackground{0, 0, 0};
inline constexpr Rgb kLit{0, 255, 0};
inline constexpr Rgb kUnlit{0, 90, 0};

// Palette indices into the strip: 0 is the background, then a ramp for each segment state from
// the faintest edge coverage up to the full colour, so segment edges are smoothed.
inline constexpr int kCoverageSteps = 16;
inline constexpr std::uint8_t kBackgroundIndex = 0;
inline constexpr std::uint8_t kLitIndex = kCoverageSteps;
inline constexpr std::uint8_t kUnlitIndex = 2 * kCoverageSteps;

struct StripImage {
    std::array<Rgb, 256> palette{};
    std::vector<std::uint8_t> pixels;  // top-down rows of kStripWidth indices
};

StripImage DrawDigitStrip();

}  // namespace norva::digitstrip
