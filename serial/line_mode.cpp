#include "serial/line_mode.h"

#include <array>
#include <charconv>
#include <utility>
#include <vector>

namespace norva {

namespace {

constexpr std::array<std::pair<unsigned, speed_t>, 30> kSpeeds{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

// The traditional two-digit abbreviations of the mode command.
constexpr std::array<std::pair<unsigned, unsigned>, 9> kAbbreviations{{
    {11, 110},
    {15, 150},
    {30, 300},
    {60, 600},
    {12, 1200},
    {24, 2400},
    {48, 4800},
    {96, 9600},
    {19, 19200},
}};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::optional<unsigned> ParseBaud(std::string_view s) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    for (const auto& [shortForm, full] : kAbbreviations) {
        if (s.size() == 2 && value == shortForm) value = full;
    }
    if (SpeedConstant(value) == B0) return std::nullopt;
    return value;
}

std::optional<Parity> ParseParity(std::string_view s) {
    if (s.size() != 1) return std::nullopt;
    switch (s[0]) {
        case 'n':
        case 'N':
            return Parity::None;
        case 'e':
        case 'E':
            return Parity::Even;
        case 'o':
        case 'O':
            return Parity::Odd;
        case 'm':
        case 'M':
            return Parity::Mark;
        case 's':
        case 'S':
            return Parity::Space;
        default:
            return std::nullopt;
    }
}

}  // namespace

speed_t SpeedConstant(unsigned baud) {
    for (const auto& [rate, constant] : kSpeeds) {
        if (rate == baud) return constant;
    }
    return B0;
}

std::optional<LineMode> ParseModeString(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        fields.push_back(Trim(text.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (fields.size() > 4 || fields[0].empty()) return std::nullopt;

    LineMode mode;
    mode.baud = ParseBaud(fields[0]);
    if (!mode.baud) return std::nullopt;
    if (fields.size() > 1 && !fields[1].empty()) {
        mode.parity = ParseParity(fields[1]);
        if (!mode.parity) return std::nullopt;
    }
    if (fields.size() > 2 && !fields[2].empty()) {
        const std::string_view d = fields[2];
        if (d.size() != 1 || d[0] < '5' || d[0] > '8') return std::nullopt;
        mode.dataBits = d[0] - '0';
    }
    if (fields.size() > 3 && !fields[3].empty()) {
        const std::string_view s = fields[3];
        if (s == "1")
            mode.stopBits = StopBits::One;
        else if (s == "1.5")
            mode.stopBits = StopBits::OnePointFive;
        else if (s == "2")
            mode.stopBits = StopBits::Two;
        else
            return std::nullopt;
    }
    // A UART gives 1.5 stop bits only with 5 data bits, and 2 only with 6 or more.
    if (mode.stopBits && mode.dataBits) {
        if (*mode.stopBits == StopBits::OnePointFive && *mode.dataBits != 5) return std::nullopt;
        if (*mode.stopBits == StopBits::Two && *mode.dataBits == 5) return std::nullopt;
    }
    return mode;
}

void ApplyLineMode(const LineMode& mode, termios& settings) {
    if (mode.baud) {
        const speed_t speed = SpeedConstant(*mode.baud);
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
    }
    if (mode.parity) {
        settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
        switch (*mode.parity) {
            case Parity::None:
                break;
            case Parity::Even:
                settings.c_cflag |= PARENB;
                break;
            case Parity::Odd:
                settings.c_cflag |= PARENB | PARODD;
                break;
            case Parity::Mark:
                settings.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case Parity::Space:
                settings.c_cflag |= PARENB | CMSPAR;
                break;
        }
    }
    if (mode.dataBits) {
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
        settings.c_cflag |= kSizes[*mode.dataBits - 5];
    }
    if (mode.stopBits) {
        if (*mode.stopBits == StopBits::One)
            settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
        else
            settings.c_cflag |= CSTOPB;
    }
}

}  // namespace norva
