#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace norva::sim {

enum ExitCode : int {
    kExitOk = 0,        // quit, end of input or script as asked, SIGINT, SIGTERM, SIGHUP
    kExitLineLost = 1,  // the serial device failed or went away while running
    kExitUsage = 2,     // bad option or option value
    kExitDevice = 3,    // the device or a pseudo-terminal could not be set up, or a link failed
    kExitScript = 4,    // the script or capture file cannot be read or has a bad line
    // A replay found answers that differ from the capture's, left a block undelivered, was
    // opened by no host, or was stopped early.
    kExitReplayDiffered = 5,
};

inline constexpr double kMaxSoakRate = 1000.0;
inline constexpr double kMaxReplaySpeed = 1000.0;
inline constexpr double kMaxEscrowTimeoutSeconds = 86400.0;

struct Options {
    std::string device;  // empty: make a pseudo-terminal
    std::string link;
    std::string script;
    bool exitOnEof = false;
    bool exitAfterScript = false;
    std::optional<double> soakRate;  // notes per second
    std::optional<std::uint32_t> seed;
    std::string replay;                 // a capture to play back
    std::optional<double> replaySpeed;  // recorded gaps divided by this
    std::string tapHostLink;            // both or neither
    std::string tapDeviceLink;
    std::optional<double> escrowTimeoutSeconds;
    bool help = false;
    bool version = false;
};

// args excludes the program name. Values come as "--opt VALUE" or "--opt=VALUE"; --tap-links
// takes two. A failure's text is what is wrong, for standard error.
Result<Options> ParseOptions(const std::vector<std::string>& args);

inline constexpr const char* kProgramName = "norva-acceptor-sim";

std::string UsageText();

}  // namespace norva::sim
