#include "tools/digitstrip/bmp_writer.h"

#include <cstddef>

namespace norva::digitstrip {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPaletteSize = 256 * 4;
constexpr std::uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp8(const StripImage& image, int width, int height) {
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const std::uint32_t stride = (w + 3) / 4 * 4;
    const std::uint32_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + kPaletteSize;
    const std::uint32_t fileSize = pixelOffset + stride * h;

    std::vector<std::uint8_t> out;
    out.reserve(fileSize);
    out.push_back('B');
    out.push_back('M');
    Put32(out, fileSize);
    Put32(out, 0);  // reserved
    Put32(out, pixelOffset);

    Put32(out, kInfoHeaderSize);
    Put32(out, w);
    Put32(out, h);  // positive: rows are stored bottom-up
    Put16(out, 1);  // planes
    Put16(out, 8);  // bits per pixel
    Put32(out, 0);  // no compression
    Put32(out, stride * h);
    Put32(out, kPixelsPerMetre);
    Put32(out, kPixelsPerMetre);
    Put32(out, 256);  // palette entries used
    Put32(out, 0);    // all of them important

    for (const Rgb& c : image.palette) {
        out.push_back(c.blue);
        out.push_back(c.green);
        out.push_back(c.red);
        out.push_back(0);
    }

    for (std::uint32_t row = h; row-- > 0;) {
        const auto* first = image.pixels.data() + static_cast<std::size_t>(row) * w;
        out.insert(out.end(), first, first + w);
        out.insert(out.end(), stride - w, 0);
    }
    return out;
}

}  // namespace norva::digitstrip
