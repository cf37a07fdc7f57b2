#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norva::cli {

enum ExitCode : int {
    kExitStopped = 0,   // a stop condition, SIGINT or SIGTERM
    kExitPortLost = 1,  // the port could not be opened, or was lost and did not come back
    kExitUsage = 2,     // bad arguments
    kExitSilent = 3,    // the acceptor sent nothing for longer than --silence
};

// What happens to a note of a ticked channel once it is in escrow.
enum class EscrowMode { NoEscrow, Accept, Reject };

struct Options {
    int portNumber = 0;  // 1..10 with --port COMn
    std::string device;  // with --device PATH
    std::string valuesFile = "BILLVALUE.TXT";
    bool valuesFileGiven = false;
    std::array<bool, 16> ticked{true, true, true};  // channel 1 first, as the window starts
    EscrowMode escrow = EscrowMode::Accept;
    int decisionDelayMs = 0;
    int pollMs = 1500;  // 0: no polling
    std::optional<std::uint64_t> notes;
    std::optional<double> seconds;
    std::optional<double> silence;
    std::string capture;
    bool enable = true;  // enable the acceptor whenever it reports its power-up
    bool timestamps = false;
    bool json = false;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the arguments are good
};

// args excludes the program name. Values come as "--opt VALUE" or "--opt=VALUE".
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// "1-3,5" -> channels 1, 2, 3 and 5 ticked; nullopt for anything but channels 1..16.
std::optional<std::array<bool, 16>> ParseChannelList(const std::string& text);

std::string UsageText();

}  // namespace norva::cli
