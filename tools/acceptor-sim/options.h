#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norva::sim {

enum ExitCode : int {
    kExitOk = 0,              // quit, end of input or script as asked, SIGINT, SIGTERM, SIGHUP
    kExitLineLost = 1,        // the serial device failed or went away while running
    kExitUsage = 2,           // bad option or option value
    kExitDevice = 3,          // the device or pseudo-terminal could not be set up, or --link failed
    kExitScript = 4,          // the script or capture file cannot be read or has a bad line
    kExitReplayDiffered = 5,  // a replay found answers that differ from the capture's
};

inline constexpr double kMaxSoakRate = 1000.0;
inline constexpr double kMaxReplaySpeed = 1000.0;

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
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the options are good
};

// args excludes the program name. Values come as "--opt VALUE" or "--opt=VALUE".
ParsedOptions ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace norva::sim
