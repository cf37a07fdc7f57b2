#include "picture/picture_text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

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
    const std::int64_t seconds =
        unixMicros >= 0 ? unixMicros / 1'000'000 : -((-unixMicros + 999'999) / 1'000'000);
    const auto fraction = int(unixMicros - seconds * 1'000'000);
    const std::time_t t = seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction);
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
