#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace norva::sim {

// Writes all of text; when nobody reads any more it gives up, and the device goes on regardless.
void WriteAll(int fd, std::string_view text);

// Seconds since start with milliseconds, right-aligned: "   12.345".
std::string Stamp(std::chrono::steady_clock::time_point start);

// "STAMP MARKER TEXT" and a line end, for the person watching.
void TellLine(int fd, std::chrono::steady_clock::time_point start, std::string_view marker,
              std::string_view text);

}  // namespace norva::sim
