#pragma once

#include <string>

namespace norva::picture {

// norva-cli --report OUT --from CAPTURE [--json]: the capture's picture written to OUT (a
// page, SVG or PNG by its ending), with no window system: Qt's offscreen platform unless the
// environment names another. With `json` the numbers also go to standard output as one JSON
// object. Returns the exit status: 0 written; 4 the capture cannot be read ("FILE:LINE: why"
// on standard error, as the replay says it); 2 the report could not be written, as norva-cli
// says of any file its options name that cannot be used; 5 standard output did not take the
// numbers.
int RunReportCommand(const std::string& out, const std::string& capture, bool json,
                     const char* programName);

inline constexpr int kReportWritten = 0;
inline constexpr int kReportNotWritten = 2;
inline constexpr int kCaptureUnreadable = 4;
inline constexpr int kOutputLost = 5;

}  // namespace norva::picture
