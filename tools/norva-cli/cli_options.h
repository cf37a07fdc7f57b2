#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "billvalues/bill_values.h"
#include "link/acceptor_link.h"
#include "serial/comm_ini.h"

namespace norva::cli {

// When several apply, the run's own end (1, 3) is reported before the evidence (4, then 5).
enum ExitCode : int {
    kExitStopped = 0,      // a stop condition, SIGINT or SIGTERM
    kExitPortLost = 1,     // the port could not be opened, or was lost and did not come back
    kExitUsage = 2,        // bad arguments, or a file named by them that cannot be used
    kExitSilent = 3,       // the acceptor sent nothing for longer than --silence
    kExitCaptureLost = 4,  // the capture could not be written to the end
    kExitOutputLost = 5,   // standard output failed, or did not take the summary
};

// What happens to a note of a ticked channel once it is in escrow.
enum class EscrowMode { NoEscrow, Accept, Reject };

// --order-bound: at most 10 s, beyond any hold-back a serial line has.
inline constexpr int kMaxOrderBoundMs = 10'000;

// --seconds and --silence: above 0, at most a year.
inline constexpr double kMaxSeconds = 366.0 * 24 * 3600;

struct Options {
    int portNumber = 0;  // 1..10 with --port COMn
    std::string device;  // with --device PATH
    std::string valuesFile = kBillValueFileName;
    bool valuesFileGiven = false;
    std::array<bool, kChannelCount> ticked = TickedAtStart();  // channel 1 first
    EscrowMode escrow = EscrowMode::Accept;
    int decisionDelayMs = 0;
    int pollMs = AcceptorLink::kPollIntervalMs;  // 0: no polling
    std::optional<std::uint64_t> notes;
    std::optional<double> seconds;
    std::optional<double> silence;
    std::string capture;
    std::string report;  // with --report OUT: the picture of the capture --from names
    std::string from;
    bool enable = true;  // enable the acceptor whenever it reports its power-up
    bool timestamps = false;
    bool json = false;
    bool help = false;
    bool version = false;
    // A tap: the two lines it listens to (a path, or COMn mapped as everywhere), and their line
    // settings as comm.ini writes them.
    std::string tapHost;
    std::string tapDevice;
    std::string mode = kModeString;
    int orderBoundMs = 0;  // 0: the bound worked out from the devices alone
    bool tapped() const { return !tapHost.empty(); }
};

// args excludes the program name; they are taken as bytes, so any file name passes unchanged.
// Values come as "--opt VALUE" or "--opt=VALUE". A failure's text says what is wrong.
Result<Options> ParseOptions(const std::vector<std::string>& args);

// "1-3,5" -> channels 1, 2, 3 and 5 ticked; nullopt for anything but channels 1..16.
std::optional<std::array<bool, kChannelCount>> ParseChannelList(const std::string& text);

// The --help text, from the options' own descriptions.
std::string UsageText();

}  // namespace norva::cli
