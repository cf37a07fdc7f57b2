// What the simulator reads from outside: its command line (arguments split at zero bytes) and
// its script text. No crash; what is accepted is within its ranges and reads the same again;
// a refusal shows no control character to the terminal.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/acceptor-sim/commands.h"
#include "tools/acceptor-sim/options.h"

using namespace norva::sim;

namespace {

bool Printable(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

void CheckOptions(const std::vector<std::string>& args) {
    const auto parsed = ParseOptions(args);
    if (!parsed.ok() || parsed->help || parsed->version) return;
    const Options& o = parsed.value();
    Check(o.tapHostLink.empty() == o.tapDeviceLink.empty(), "both tap links or neither");
    Check(!o.soakRate || (*o.soakRate > 0 && *o.soakRate <= kMaxSoakRate), "soak rate in range");
    Check(!o.replaySpeed || (*o.replaySpeed > 0 && *o.replaySpeed <= kMaxReplaySpeed),
          "speed in range");
    Check(!o.escrowTimeoutSeconds ||
              (*o.escrowTimeoutSeconds > 0 && *o.escrowTimeoutSeconds <= kMaxEscrowTimeoutSeconds),
          "escrow timeout in range");
    Check(o.replay.empty() || (o.script.empty() && !o.soakRate && !o.escrowTimeoutSeconds),
          "a replay plays alone");
    Check(o.device.empty() || o.link.empty(), "a link only to a pseudo-terminal");
    // Written out again as --opt=VALUE, the same options.
    std::vector<std::string> again;
    for (const auto& [name, value] :
         {std::pair{"device", o.device}, std::pair{"link", o.link}, std::pair{"script", o.script},
          std::pair{"replay", o.replay}}) {
        if (!value.empty()) again.push_back("--" + std::string(name) + "=" + value);
    }
    if (!o.tapHostLink.empty())
        again.insert(again.end(), {"--tap-links=" + o.tapHostLink, o.tapDeviceLink});
    if (o.exitOnEof) again.push_back("--exit-on-eof");
    if (o.exitAfterScript) again.push_back("--exit-after-script");
    const auto reparsed = ParseOptions(again);
    Check(reparsed.ok(), "accepted options parse again");
    Check(reparsed->device == o.device && reparsed->link == o.link &&
              reparsed->script == o.script && reparsed->replay == o.replay &&
              reparsed->tapHostLink == o.tapHostLink && reparsed->tapDeviceLink == o.tapDeviceLink,
          "the same options again");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args(1);
    for (const char c : text) {
        if (c == 0)
            args.emplace_back();
        else
            args.back() += c;
    }
    CheckOptions(args);

    const auto script = ParseScript(text, "fuzz.sim");
    if (!script.ok()) {
        Check(Printable(script.reason()), "a control character in the reason");
        return 0;
    }
    for (const ScriptStep& step : script->steps) {
        const Command& c = step.command;
        Check(c.kind != Command::Kind::Insert || (c.number >= 1 && c.number <= kChannels),
              "channel in range");
        Check(c.kind != Command::Kind::Raw || (!c.bytes.empty() && c.bytes.size() <= 4096),
              "raw bytes in range");
        Check(c.kind != Command::Kind::Sleep || c.number >= 0, "no negative sleep");
    }
    return 0;
}
