#include "picture/picture_text.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "capture/capture_format.h"

namespace norva::picture {

std::string Count(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Three significant digits, the way a reading on a scale is written.
std::string Significant(double value) {
    const double magnitude = std::fabs(value);
    return Fixed(value, magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : 2);
}

}  // namespace

std::string Milliseconds(double ms) {
    if (!(ms >= 0)) return "—";
    if (ms < 1000) return Significant(ms) + " ms";
    if (ms < 60'000) return Significant(ms / 1000) + " s";
    return Duration(std::int64_t(std::llround(ms * 1000)));
}

std::string Duration(std::int64_t micros) {
    if (micros < 0) micros = 0;
    if (micros < 1'000'000) return Significant(double(micros) / 1000) + " ms";
    if (micros < 60'000'000) return Significant(double(micros) / 1e6) + " s";
    const std::int64_t seconds = micros / 1'000'000;
    if (seconds < 3600)
        return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    if (seconds < 86400)
        return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) +
               " min";
    return std::to_string(seconds / 86400) + " d " + std::to_string(seconds % 86400 / 3600) + " h";
}

std::string UtcTime(std::int64_t unixMicros) {
    // The capture's own time text, read more easily: a blank for the T, no Z.
    std::string text;
    AppendUtcTime(text, unixMicros);
    if (text.size() > 10 && text[10] == 'T') text[10] = ' ';
    if (!text.empty() && text.back() == 'Z') text.pop_back();
    return text;
}

std::string KindName(MarkKind kind) {
    static constexpr std::array<const char*, 9> kNames{"poll",        "status code", "power-up",
                                                       "escrow held", "stacked",     "returned",
                                                       "host accept", "host reject", "other"};
    return kNames[std::size_t(kind)];
}

std::string RowName(Row row) {
    static constexpr std::array<const char*, kRowCount> kNames{
        "power-up", "status", "escrow", "stacked", "returned",
        "other",    "poll",   "accept", "reject",  "other"};
    return kNames[std::size_t(row)];
}

std::string LaneName(Lane lane) {
    return lane == Lane::Acceptor ? "acceptor" : "host";
}

std::string Hex(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(byte));
    return text;
}

std::string MarkTitle(const Mark& mark) {
    switch (mark.kind) {
        case MarkKind::StatusCode:
            return "status " + Hex(mark.detail);
        case MarkKind::EscrowHeld:
        case MarkKind::Stacked:
        case MarkKind::Returned:
            if (mark.detail >= 1 && mark.detail <= 16)
                return KindName(mark.kind) + ", channel " + std::to_string(mark.detail);
            return KindName(mark.kind);
        case MarkKind::Other:
            return LaneName(mark.lane) + " " + Hex(mark.detail);
        default:
            return KindName(mark.kind);
    }
}

}  // namespace norva::picture
