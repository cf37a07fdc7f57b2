// The mode string parser: no crash, and whatever it accepts survives a round trip through its
// canonical form and lands in the termios bits it names.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "serial/line_mode.h"

using namespace norva;

namespace {

std::string Canonical(const LineMode& m) {
    static const char kParity[] = {'N', 'E', 'O', 'M', 'S'};
    static const char* kStop[] = {"1", "1.5", "2"};
    std::string s = std::to_string(*m.baud) + ",";
    if (m.parity) s += kParity[static_cast<int>(*m.parity)];
    s += ",";
    if (m.dataBits) s += std::to_string(*m.dataBits);
    s += ",";
    if (m.stopBits) s += kStop[static_cast<int>(*m.stopBits)];
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto mode = ParseModeString(text);
    if (!mode) return 0;
    Check(mode->baud && SpeedConstant(*mode->baud) != B0, "accepted a baud without a speed");
    Check(ParseModeString(Canonical(*mode)) == mode, "canonical form parses differently");
    termios t{};
    ApplyLineMode(*mode, t);
    Check(cfgetospeed(&t) == SpeedConstant(*mode->baud), "speed not applied");
    if (mode->dataBits) {
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        Check((t.c_cflag & CSIZE) == kSizes[*mode->dataBits - 5], "size not applied");
    }
    if (mode->parity) {
        Check(((t.c_cflag & PARENB) != 0) == (*mode->parity != Parity::None), "parity not applied");
    }
    return 0;
}
