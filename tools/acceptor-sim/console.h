#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norva::sim {

// Writes all of text; when nobody reads any more it gives up, and the device goes on regardless.
// While the reader is slow it waits, but not once stopFd (-1 for none) turns readable: a stop
// signal is never held up by a paused terminal or pipe.
void WriteAll(int fd, std::string_view text, int stopFd = -1);

// "8F", and "81 8F 40" for several bytes: how bytes read everywhere the device shows them.
std::string HexText(std::uint8_t byte);
std::string HexText(const std::uint8_t* bytes, std::size_t count);

// Seconds since start with milliseconds, right-aligned: "   12.345".
std::string Stamp(std::chrono::steady_clock::time_point start);

// "STAMP MARKER TEXT" and a line end, for the person watching.
void TellLine(int fd, std::chrono::steady_clock::time_point start, std::string_view marker,
              std::string_view text, int stopFd = -1);

// A running device's two streams, timed from one start: the traffic lines for programs, the
// notes for the person watching.
class Console {
public:
    Console(int outFd, int errFd, int stopFd = -1)
        : outFd_(outFd), errFd_(errFd), stopFd_(stopFd), start_(std::chrono::steady_clock::now()) {}

    // One traffic line and its end.
    void Print(std::string_view line) const;
    void Tell(std::string_view marker, std::string_view text) const {
        TellLine(errFd_, start_, marker, text, stopFd_);
    }
    std::string Stamp() const { return sim::Stamp(start_); }
    std::chrono::steady_clock::time_point start() const { return start_; }

private:
    int outFd_;
    int errFd_;
    int stopFd_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace norva::sim
