#include "tools/acceptor-sim/options.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "tools/acceptor-sim/commands.h"

namespace norva::sim {

namespace {

std::optional<double> Rate(std::string_view text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    if (value <= 0 || value > kMaxSoakRate) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> Seed(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    Options& o = result.options;
    const auto fail = [&result](std::string why) {
        result.error = std::move(why);
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto flag = [&]() { return !inlineValue.has_value(); };
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };

        if (name == "--help" || name == "-h") {
            if (!flag()) return fail(name + " takes no value");
            o.help = true;
        } else if (name == "--exit-on-eof") {
            if (!flag()) return fail(name + " takes no value");
            o.exitOnEof = true;
        } else if (name == "--exit-after-script") {
            if (!flag()) return fail(name + " takes no value");
            o.exitAfterScript = true;
        } else if (name == "--device" || name == "--link" || name == "--script") {
            const auto v = value();
            if (!v || v->empty()) return fail(name + " needs a path");
            (name == "--device" ? o.device : name == "--link" ? o.link : o.script) = *v;
        } else if (name == "--soak") {
            const auto v = value();
            if (!v) return fail("--soak needs a rate in notes per second");
            o.soakRate = Rate(*v);
            if (!o.soakRate) {
                return fail("bad --soak rate '" + *v +
                            "': expected a number above 0, at most 1000");
            }
        } else if (name == "--seed") {
            const auto v = value();
            if (!v) return fail("--seed needs a number");
            o.seed = Seed(*v);
            if (!o.seed) return fail("bad --seed '" + *v + "': expected 0 to 4294967295");
        } else {
            return fail("unknown option '" + args[i] + "' (see --help)");
        }
    }
    if (o.help) return result;
    if (!o.device.empty() && !o.link.empty()) {
        return fail("--link names a pseudo-terminal; it cannot be used with --device");
    }
    if (o.exitAfterScript && o.script.empty()) return fail("--exit-after-script needs --script");
    if (o.seed && !o.soakRate) return fail("--seed needs --soak");
    return result;
}

std::string UsageText() {
    std::string text = R"(Usage: norva-acceptor-sim [options]

Plays a banknote acceptor on a serial line for the bench tool.

Options:
  --device PATH        use a real serial device (9600 baud, even parity, 8 data bits,
                       1 stop bit, raw, no flow control) instead of a pseudo-terminal.
  --link PATH          also make the symbolic link PATH to the pseudo-terminal, removed on
                       exit. An existing symbolic link there is replaced; any other file is
                       left alone and is an error.
  --script FILE        run the commands of FILE (see below, plus sleep MS), then keep running.
                       The whole file is checked first.
  --exit-after-script  exit with status 0 once the script has run.
  --exit-on-eof        exit with status 0 at the end of standard input, once every command
                       read (and the script, if any) has run. Without it the simulator keeps
                       running after the end of its input until SIGINT or SIGTERM.
  --soak RATE          insert notes on random channels at RATE notes per second (fractional
                       rates such as 0.5 allowed, at most 1000). A tick that finds the acceptor
                       disabled, quiet or holding a note is skipped.
  --seed N             seed of the --soak channel sequence (default: random, shown on stderr).
  -h, --help           this text.

Standard output, one line each, written at once:
  pty PATH                     first line: the pseudo-terminal for the host to open
  device PATH                  first line instead, with --device
     12.345 >> 81 8F 42        bytes sent in one write; seconds since start with milliseconds
     12.400 << 02              bytes received in one read
Everything for the person (state changes marked "--", refusals and errors "!!", help) goes to
standard error, also with the time since start.

Scripted use, as by a test: run with --script FILE --exit-after-script, read the pty path
from the first line, open it, then follow the traffic lines; end the script with a sleep
long enough for the host's answers. Or pipe commands into standard input with --exit-on-eof.

Exit status:
  0  quit, end of script or input as asked above, SIGINT, SIGTERM or SIGHUP
  1  the serial device failed or went away while running
  2  bad option
  3  the device or pseudo-terminal could not be set up (missing, not a terminal, busy),
     or the --link could not be made
  4  the script cannot be read or has a bad line (reported as FILE:LINE: why)

)";
    text += CommandHelp();
    return text;
}

}  // namespace norva::sim
