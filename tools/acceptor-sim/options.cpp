#include "tools/acceptor-sim/options.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "tools/acceptor-sim/commands.h"
#include "tools/common/option_reader.h"

namespace norva::sim {

namespace {

std::optional<double> Rate(std::string_view text, double most = kMaxSoakRate) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    if (value <= 0 || value > most) return std::nullopt;
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

    for (tools::OptionReader arg(args); arg.Next();) {
        const std::string& name = arg.name();
        const auto flag = [&] { return !arg.HasInlineValue(); };
        const auto value = [&] { return arg.Value(); };

        if (name == "--help" || name == "-h") {
            if (!flag()) return fail(name + " takes no value");
            o.help = true;
        } else if (name == "--version") {
            if (!flag()) return fail(name + " takes no value");
            o.version = true;
        } else if (name == "--exit-on-eof") {
            if (!flag()) return fail(name + " takes no value");
            o.exitOnEof = true;
        } else if (name == "--exit-after-script") {
            if (!flag()) return fail(name + " takes no value");
            o.exitAfterScript = true;
        } else if (name == "--device" || name == "--link" || name == "--script" ||
                   name == "--replay") {
            const auto v = value();
            if (!v || v->empty()) return fail(name + " needs a path");
            (name == "--device"   ? o.device
             : name == "--link"   ? o.link
             : name == "--script" ? o.script
                                  : o.replay) = *v;
        } else if (name == "--speed") {
            const auto v = value();
            if (!v) return fail("--speed needs a factor");
            o.replaySpeed = Rate(*v, kMaxReplaySpeed);
            if (!o.replaySpeed) {
                return fail("bad --speed '" + *v + "': expected a number above 0, at most 1000");
            }
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
            return fail("unknown option '" + arg.raw() + "' (see --help)");
        }
    }
    if (o.help || o.version) return result;
    if (!o.device.empty() && !o.link.empty()) {
        return fail("--link names a pseudo-terminal; it cannot be used with --device");
    }
    if (o.exitAfterScript && o.script.empty()) return fail("--exit-after-script needs --script");
    if (o.seed && !o.soakRate) return fail("--seed needs --soak");
    if (o.replaySpeed && o.replay.empty()) return fail("--speed needs --replay");
    if (!o.replay.empty() &&
        (!o.script.empty() || o.soakRate || o.exitOnEof || o.exitAfterScript)) {
        return fail(
            "--replay plays the capture alone; it cannot be used with --script, --soak or "
            "--exit-on-eof");
    }
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
  --replay FILE        play the received blocks of a traffic capture to the host instead of
                       acting as an acceptor, and compare the host's bytes with the capture's
                       (see Replay below). The whole file is checked first.
  --speed X            with --replay: divide the recorded gaps by X (0.5 plays at half speed,
                       10 ten times as fast; above 0, at most 1000; default 1).
  -h, --help           this text.
  --version            the program's name and version.

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

Replay:
  Each RX line of the capture is written as one block; the time between two blocks is the
  recorded gap (divided by --speed), counted from when the block before went out. The TX bytes
  recorded after a block, up to the next RX line, are the answers expected to it, in order.
  The next block waits for them, at most 2 s beyond its gap; after the last block the replay
  waits for its answers the same way, then 0.3 s more for stray bytes.
  Polls (0C) come from the host's timer, not as answers: recorded ones are not expected and
  the host's are shown and set aside, never compared. Every other byte the host sends is
  compared with the next expected answer:
     1.052 << 02   capture 02   match
     1.052 << 0F   capture 02   DIFFERS
     3.101 << 30   capture --   DIFFERS   (the capture expected nothing more here)
     3.101 << --   capture 02   DIFFERS   (the expected answer did not come)
     4.500 << 0C   poll, set aside
  The last line: "replay: answers matched N, differed M", then the polls seen on each side.
  Exit status 0 only when every answer matched; 5 otherwise, also when stopped early.

Exit status:
  0  quit, end of script or input as asked above, SIGINT, SIGTERM or SIGHUP; a replay in
     which every answer matched
  1  the serial device failed or went away while running
  2  bad option
  3  the device or pseudo-terminal could not be set up (missing, not a terminal, busy),
     or the --link could not be made
  4  the script or capture cannot be read or has a bad line (reported as FILE:LINE: why)
  5  a replay in which an answer differed, was missing or came unexpected, or that was stopped
     before the end

)";
    text += CommandHelp();
    return text;
}

}  // namespace norva::sim
