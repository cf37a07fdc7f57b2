#pragma once

#include <cstdint>
#include <vector>

#include "tools/digitstrip/strip_art.h"

namespace norva::digitstrip {

// An uncompressed 8-bit BMP: 40-byte information header, 256-entry palette, bottom-up rows
// padded to a multiple of four bytes.
std::vector<std::uint8_t> EncodeBmp8(const StripImage& image, int width, int height);

}  // namespace norva::digitstrip
