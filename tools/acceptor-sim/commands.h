#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

struct ParsedLine {
    std::optional<Command> command;  // nothing for a blank or comment line
    std::string error;               // why the line is not a command; empty when it is one
};

// One line as typed or as written in a script. "#" starts a comment anywhere on the line.
ParsedLine ParseCommandLine(std::string_view line);

struct ScriptStep {
    int lineNumber = 0;
    Command command;
};

struct Script {
    std::string fileName;
    std::vector<ScriptStep> steps;
};

// The whole script is checked before anything runs. On failure, error reads "file:line: why".
std::optional<Script> ParseScript(std::string_view text, const std::string& fileName,
                                  std::string& error);
std::optional<Script> LoadScript(const std::string& path, std::string& error);

// The commands and the device's behaviour, for "help" and --help.
std::string_view CommandHelp();

}  // namespace norva::sim
