// The command line of norva-cli: no crash on any argument list, and what it accepts is
// consistent: one port, channels within 1..16, delays and intervals within their ranges.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "serial/line_mode.h"
#include "tools/norva-cli/cli_options.h"

using namespace norva::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are separated by zero bytes, as the kernel hands them over.
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    const norva::Result<Options> parsed = ParseOptions(args);
    if (!parsed.ok()) {
        Check(!parsed.text().empty(), "a refusal says why");
        return 0;
    }
    const Options& o = parsed.value();
    if (o.help || o.version) return 0;
    if (!o.report.empty() || !o.from.empty()) {
        Check(!o.report.empty() && !o.from.empty() && o.portNumber == 0 && o.device.empty(),
              "a report names its capture and no port");
        return 0;
    }
    if (o.tapped()) {
        // A tap: two lines, no port of its own, settings that parse, and the same again.
        Check(!o.tapDevice.empty() && o.portNumber == 0 && o.device.empty(), "a tap's two lines");
        Check(norva::ParseModeString(o.mode).has_value(), "a tap's line settings parse");
        Check(o.orderBoundMs >= 0 && o.orderBoundMs <= kMaxOrderBoundMs, "bound in range");
        std::vector<std::string> args{"--tap-host", o.tapHost, "--tap-device",
                                      o.tapDevice,  "--mode",  o.mode};
        if (o.orderBoundMs != 0)
            args.insert(args.end(), {"--order-bound", std::to_string(o.orderBoundMs)});
        const norva::Result<Options> again = ParseOptions(args);
        Check(again.ok() && again->tapHost == o.tapHost && again->tapDevice == o.tapDevice &&
                  again->mode == o.mode && again->orderBoundMs == o.orderBoundMs,
              "a tap's options parse again");
        return 0;
    }
    Check((o.portNumber != 0) != !o.device.empty(), "exactly one port");
    Check(o.portNumber >= 0 && o.portNumber <= 10, "port number in range");
    Check(o.pollMs >= 0 && o.decisionDelayMs >= 0, "no negative interval");
    Check(!o.notes || *o.notes > 0, "a note count above 0");
    Check(!o.seconds || *o.seconds > 0, "seconds above 0");
    Check(!o.silence || *o.silence > 0, "silence above 0");
    Check(!o.seconds || *o.seconds <= kMaxSeconds, "seconds at most a year");
    Check(!o.silence || *o.silence <= kMaxSeconds, "silence at most a year");
    // What was accepted, written out again, parses to the same options.
    std::vector<std::string> again;
    if (o.portNumber != 0) again = {"--port", "COM" + std::to_string(o.portNumber)};
    if (!o.device.empty()) again = {"--device", o.device};
    std::string list;
    for (int c = 1; c <= 16; ++c) {
        if (o.ticked[static_cast<std::size_t>(c - 1)])
            list += (list.empty() ? "" : ",") + std::to_string(c);
    }
    if (!list.empty()) again.insert(again.end(), {"--accept", list});
    const char* mode = o.escrow == EscrowMode::NoEscrow ? "no-escrow"
                       : o.escrow == EscrowMode::Accept ? "accept:"
                                                        : "reject:";
    again.insert(again.end(), {"--escrow", o.escrow == EscrowMode::NoEscrow
                                               ? std::string(mode)
                                               : mode + std::to_string(o.decisionDelayMs)});
    again.insert(again.end(), {"--poll", std::to_string(o.pollMs)});
    if (o.notes) again.insert(again.end(), {"--notes", std::to_string(*o.notes)});
    const norva::Result<Options> reparsed = ParseOptions(again);
    Check(reparsed.ok(), "accepted options parse again");
    const Options& r = reparsed.value();
    Check(r.ticked == o.ticked && r.escrow == o.escrow && r.decisionDelayMs == o.decisionDelayMs &&
              r.pollMs == o.pollMs && r.notes == o.notes && r.portNumber == o.portNumber &&
              r.device == o.device,
          "the same options again");
    return 0;
}
