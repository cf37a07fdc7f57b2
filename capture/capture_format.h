#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "protocol/traffic_sink.h"
#include "textfile/line_reader.h"

namespace norva {

// A capture is plain text, one event a line:
//   # norva-protocol traffic capture
//   # port COM1 /dev/ttyUSB0 9600,E,8,1
//   2026-12-09T03:14:15.123456Z RX 80 8F
//   2026-12-09T03:14:15.174012Z TX 02
// Other lines that start with '#' are comments; blank lines are skipped. Every line ends with LF.

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

// A capture line is at most this long; a longer one is refused where it stands, so a file that
// is no capture cannot make the reader hold more. A block of the largest size any reader of
// the line produces takes a few percent of it.
inline constexpr std::size_t kMaxCaptureLineBytes = 1 << 20;

// Reads a capture one event at a time, holding one line, so a capture of any size is read in
// bounded memory. Every line ends with LF: a last line without it is refused as cut off.
// Failures read "FILE:LINE" (or "line LINE" for nameless text) with the reason apart, as
// "FILE:LINE: why" from Describe(); a file that cannot be opened reads "FILE: cannot read" with
// the reason (a FIFO, a device or a folder is refused without being opened).
class CaptureReader {
public:
    static Result<CaptureReader> Open(const std::string& fileName);
    // The text must outlive the reader.
    static CaptureReader FromText(std::string_view text, std::string name = {});

    // True with event() set to the next event, false after the last one.
    Result<bool> Next();
    // Valid until the next call.
    const CaptureEvent& event() const { return event_; }
    // Of the line the last event or failure came from.
    std::size_t lineNumber() const { return lines_.lineNumber(); }
    // Back to the first event, to read the same capture again.
    Outcome Rewind() { return lines_.Rewind(); }

private:
    explicit CaptureReader(LineReader lines) : lines_(std::move(lines)) {}

    LineReader lines_;
    CaptureEvent event_;
};

// The whole capture at once, for small inputs; stops at the first bad line.
Result<std::vector<CaptureEvent>> ParseCapture(std::string_view text);
Result<std::vector<CaptureEvent>> ReadCaptureFile(const std::string& fileName);

}  // namespace norva
