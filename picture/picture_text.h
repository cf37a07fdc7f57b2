#pragma once

#include <cstdint>
#include <string>

#include "picture/marks.h"

namespace norva::picture {

// The words the picture, its tooltips and its report share.

// "1,234,567"
std::string Count(std::uint64_t n);
// "0.84 ms", "51.2 ms", "1.84 s", "3 min 12 s"
std::string Milliseconds(double ms);
// A span of time for people: "850 ms", "12.5 s", "3 min 12 s", "2 h 5 min", "3 d 4 h"
std::string Duration(std::int64_t micros);
// "2026-12-09 03:14:15.123456" (UTC)
std::string UtcTime(std::int64_t unixMicros);

// "power-up", "escrow held", "host accept", ...
std::string KindName(MarkKind kind);
// The row labels: "power-up", "status", "escrow", ..., "poll", "accept", "reject", "other"
std::string RowName(Row row);
std::string LaneName(Lane lane);
// "0x3E"
std::string Hex(std::uint8_t byte);
// What a mark is, in words: "status 0x3E", "escrow held, channel 5", "host accept"
std::string MarkTitle(const Mark& mark);

}  // namespace norva::picture
