#pragma once

#include <termios.h>

#include <optional>
#include <string_view>

namespace norva {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OnePointFive, Two };

// A mode string such as "9600,E,8,1": baud rate, parity letter, data bits, stop bits. Fields may
// be left out from the end or left empty; a field not named keeps the port's current setting.
struct LineMode {
    std::optional<unsigned> baud;
    std::optional<Parity> parity;
    std::optional<int> dataBits;
    std::optional<StopBits> stopBits;
    bool operator==(const LineMode&) const = default;
};

// Returns nothing when the text is not a valid mode string.
std::optional<LineMode> ParseModeString(std::string_view text);

// The termios speed constant for a baud rate, or B0 when the platform has none.
speed_t SpeedConstant(unsigned baud);

// Writes the named fields into the structure. Flow control is not touched here.
void ApplyLineMode(const LineMode& mode, termios& settings);

}  // namespace norva
