#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "tools/acceptor-sim/acceptor.h"

namespace norva::sim {

struct Command {
    enum class Kind {
        Insert,      // number: channel 1..16
        Status,      // bytes: the one code to pin
        StatusAuto,  // back to the state's own code
        ShowState,   // "status" alone
        Raw,         // bytes: sent as given, in one write
        PowerUp,
        Quiet,
        Talk,
        Sleep,  // number: milliseconds
        Help,
        Quit,
    };
    Kind kind = Kind::Help;
    long number = 0;
    Bytes bytes;

    bool operator==(const Command&) const = default;
};

// One line as typed or as written in a script: a command, or nothing for a blank or comment
// line ("#" starts a comment anywhere on the line). A failure's reason says why the line is
// no command, fit for a terminal.
Result<std::optional<Command>> ParseCommandLine(std::string_view line);

struct ScriptStep {
    int lineNumber = 0;
    Command command;
};

struct Script {
    std::string fileName;
    std::vector<ScriptStep> steps;
};

// A script file larger than this is refused rather than read.
inline constexpr std::size_t kMaxScriptBytes = 16 << 20;

// The whole script is checked before anything runs. A failure reads "file:line: why" from
// Describe(), or "file: cannot read the script: why".
Result<Script> ParseScript(std::string_view text, const std::string& fileName);
Result<Script> LoadScript(const std::string& path);

// The commands and the device's behaviour, for "help" and --help.
const std::string& CommandHelp();

}  // namespace norva::sim
