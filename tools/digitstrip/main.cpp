// Writes the digit strip that the digits panels show, as an 8-bit BMP, to the path given.

#include <cstdio>
#include <fstream>

#include "tools/digitstrip/bmp_writer.h"
#include "tools/digitstrip/strip_art.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\n", argc > 0 ? argv[0] : "norva-digitstrip");
        return 2;
    }
    using namespace norva::digitstrip;
    const std::vector<std::uint8_t> bytes = EncodeBmp8(DrawDigitStrip(), kStripWidth, kStripHeight);

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
