#pragma once

#include <cstdint>
#include <string>

namespace norva {

// A byte as two upper-case hexadecimal digits, the way every log line, capture and message
// writes one.
inline void AppendHexByte(std::string& out, std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

}  // namespace norva
