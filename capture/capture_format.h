#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/traffic_sink.h"

namespace norva {

// A capture is plain text, one event a line:
//   # norva-protocol traffic capture
//   # port COM1 /dev/ttyUSB0 9600,E,8,1
//   2026-12-09T03:14:15.123456Z RX 80 8F
//   2026-12-09T03:14:15.174012Z TX 02
// Other lines that start with '#' are comments; blank lines are skipped.

enum class TrafficKind : std::uint8_t { Port, Received, Sent };

struct CaptureEvent {
    TrafficKind kind = TrafficKind::Received;
    std::int64_t unixMicros = 0;      // 0 for a port line read back: the text keeps no time
    std::vector<std::uint8_t> bytes;  // the block, or the one byte sent
    PortIdentity port;                // a port line only
};

inline constexpr std::string_view kCaptureHeader = "# norva-protocol traffic capture";

// "2026-12-09T03:14:15.123456Z"
void AppendUtcTime(std::string& out, std::int64_t unixMicros);
// Each of these appends one whole line, LF included. Blanks in the port name and the mode
// string, and control characters anywhere, are replaced so the line reads back as written.
void AppendPortLine(std::string& out, const PortIdentity& port);
void AppendReceivedLine(std::string& out, std::int64_t unixMicros,
                        std::span<const std::uint8_t> block);
void AppendSentLine(std::string& out, std::int64_t unixMicros, std::uint8_t byte);
// "# TEXT": a note for the reader that every reader of the format skips.
void AppendCommentLine(std::string& out, std::string_view text);

// The header and then each event.
std::string FormatCapture(const std::vector<CaptureEvent>& events);

struct CaptureParse {
    std::vector<CaptureEvent> events;
    std::string error;          // empty on success; "line N: why" otherwise
    std::size_t errorLine = 0;  // 1-based
    bool ok() const { return error.empty(); }
};

// Reads the whole text; stops at the first bad line.
CaptureParse ParseCapture(std::string_view text);

// Reads a capture file. Errors read "FILE:N: why", or "FILE: cannot read: reason".
CaptureParse ReadCaptureFile(const std::string& fileName);

}  // namespace norva
