#include "tools/acceptor-sim/options.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "tools/acceptor-sim/commands.h"

namespace norva::sim {

namespace {

constexpr std::string_view kTapLinks = "--tap-links";

std::optional<double> Rate(std::string_view text, double most) {
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

Outcome Bad(std::string why) {
    return Outcome::Failed(std::move(why));
}

// The options, each with its help; the parser's own --help and --version come with them.
void Describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Plays a banknote acceptor on a serial line for the bench tool.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {"device",
         "Use a real serial device (9600 baud, even parity, 8 data bits, 1 stop bit, raw, no "
         "flow control) instead of a pseudo-terminal.",
         "PATH"},
        {"link",
         "Also make the symbolic link PATH to the pseudo-terminal, removed on exit. An existing "
         "symbolic link there is replaced; any other file is left alone and is an error.",
         "PATH"},
        {"tap-links",
         "A simulated Y-cable: two more symbolic links, to two more pseudo-terminals, made and "
         "removed like --link. HOST carries a copy of every byte the host writes, "
         "DEVICE of every byte sent to it, each the moment it passes (see Tap links below).",
         "HOST DEVICE"},
        {"script",
         "Run the commands of FILE (see below, plus sleep MS), then keep running. The whole file "
         "is checked first.",
         "FILE"},
        {"exit-after-script", "Exit with status 0 once the script has run."},
        {"exit-on-eof",
         "Exit with status 0 at the end of standard input, once every command read (and the "
         "script, if any) has run. Without it the simulator keeps running after the end of its "
         "input until SIGINT or SIGTERM."},
        {"soak",
         "Insert notes on random channels at RATE notes per second (fractional rates such as "
         "0.5 allowed, at most 1000). A tick that finds the acceptor disabled, quiet or holding "
         "a note is skipped.",
         "RATE"},
        {"seed", "Seed of the --soak channel sequence (default: random, shown on stderr).", "N"},
        {"escrow-timeout",
         "Hand a note back by itself (sending 11, as when an escrow ends without stacking) "
         "when the host leaves it in escrow longer than S seconds (fractions allowed, at most "
         "86400). Off by default: a note waits for the host.",
         "S"},
        {"replay",
         "Play the received blocks of a traffic capture to the host instead of acting as an "
         "acceptor, and compare the host's bytes with the capture's (see Replay below). The "
         "whole file is checked first.",
         "FILE"},
        {"speed",
         "With --replay: divide the recorded gaps by X (0.5 plays at half speed, 10 ten times "
         "as fast; above 0, at most 1000; default 1).",
         "X"},
    });
}

// QCommandLineParser gives an option one value; the two of --tap-links are taken out first.
Result<std::vector<std::string>> TakeTapLinks(const std::vector<std::string>& args, Options& o) {
    static const std::vector<std::string> kValueOptions = {"--device", "--link", "--script",
                                                           "--soak",   "--seed", "--escrow-timeout",
                                                           "--replay", "--speed"};
    const auto isPath = [](const std::string& arg) {
        return !arg.empty() && !arg.starts_with("--");
    };
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<long>(i), args.end());
            break;
        }
        if (arg == kTapLinks || arg.starts_with(std::string(kTapLinks) + "=")) {
            std::vector<std::string> paths;
            if (arg != kTapLinks) paths.push_back(arg.substr(kTapLinks.size() + 1));
            while (paths.size() < 2 && i + 1 < args.size() && isPath(args[i + 1]))
                paths.push_back(args[++i]);
            if (paths.size() < 2 || paths[0].empty())
                return Bad("--tap-links needs two paths: HOST DEVICE");
            o.tapHostLink = paths[0];
            o.tapDeviceLink = paths[1];
            continue;
        }
        rest.push_back(arg);
        if (std::find(kValueOptions.begin(), kValueOptions.end(), arg) != kValueOptions.end() &&
            i + 1 < args.size()) {
            rest.push_back(args[++i]);
        }
    }
    return rest;
}

}  // namespace

Result<Options> ParseOptions(const std::vector<std::string>& args) {
    Options o;
    QCommandLineParser parser;
    Describe(parser);
    Result<std::vector<std::string>> rest = TakeTapLinks(args, o);
    if (!rest.ok()) return rest.outcome();
    QStringList list{kProgramName};
    for (const std::string& arg : rest.value())
        list << QString::fromStdString(arg);
    if (!parser.parse(list)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString name = (unknown.front().size() == 1 ? "-" : "--") + unknown.front();
            return Bad("unknown option '" + name.toStdString() + "' (see --help)");
        }
        return Bad(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Bad("unexpected argument '" + parser.positionalArguments().front().toStdString() +
                   "' (see --help)");
    }
    o.help = parser.isSet("help") || parser.isSet("help-all");
    o.version = parser.isSet("version");
    if (o.help || o.version) return o;

    const auto text = [&parser](const char* name) { return parser.value(name).toStdString(); };
    for (const auto& [name, field] :
         {std::pair{"device", &o.device}, std::pair{"link", &o.link},
          std::pair{"script", &o.script}, std::pair{"replay", &o.replay}}) {
        if (!parser.isSet(name)) continue;
        *field = text(name);
        if (field->empty()) return Bad("--" + std::string(name) + " needs a path");
    }
    o.exitOnEof = parser.isSet("exit-on-eof");
    o.exitAfterScript = parser.isSet("exit-after-script");
    if (parser.isSet("speed")) {
        o.replaySpeed = Rate(text("speed"), kMaxReplaySpeed);
        if (!o.replaySpeed)
            return Bad("bad --speed '" + text("speed") +
                       "': expected a number above 0, at most 1000");
    }
    if (parser.isSet("soak")) {
        o.soakRate = Rate(text("soak"), kMaxSoakRate);
        if (!o.soakRate) {
            return Bad("bad --soak rate '" + text("soak") +
                       "': expected a number above 0, at most 1000");
        }
    }
    if (parser.isSet("seed")) {
        o.seed = Seed(text("seed"));
        if (!o.seed) return Bad("bad --seed '" + text("seed") + "': expected 0 to 4294967295");
    }
    if (parser.isSet("escrow-timeout")) {
        o.escrowTimeoutSeconds = Rate(text("escrow-timeout"), kMaxEscrowTimeoutSeconds);
        if (!o.escrowTimeoutSeconds) {
            return Bad("bad --escrow-timeout '" + text("escrow-timeout") +
                       "': expected seconds above 0, at most 86400");
        }
    }

    if (!o.device.empty() && !o.link.empty()) {
        return Bad("--link names a pseudo-terminal; it cannot be used with --device");
    }
    if (!o.tapHostLink.empty() &&
        (o.tapHostLink == o.tapDeviceLink || o.tapHostLink == o.link || o.tapDeviceLink == o.link))
        return Bad("--tap-links and --link need paths of their own");
    if (o.exitAfterScript && o.script.empty()) return Bad("--exit-after-script needs --script");
    if (o.seed && !o.soakRate) return Bad("--seed needs --soak");
    if (o.replaySpeed && o.replay.empty()) return Bad("--speed needs --replay");
    if (!o.replay.empty() && (!o.script.empty() || o.soakRate || o.exitOnEof || o.exitAfterScript ||
                              o.escrowTimeoutSeconds)) {
        return Bad(
            "--replay plays the capture alone; it cannot be used with --script, --soak, "
            "--escrow-timeout or --exit-on-eof");
    }
    return o;
}

std::string UsageText() {
    QCommandLineParser parser;
    Describe(parser);
    std::string text = parser.helpText().toStdString();
    if (const auto at = text.find("<executable_name>"); at != std::string::npos)
        text.replace(at, std::string_view("<executable_name>").size(), kProgramName);
    text += R"(
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
  The last line: "replay: answers matched N, differed M", then the polls seen on each side,
  and what went wrong besides: "N blocks not delivered whole" (the line did not take a block
  within 1 s), "no host opened the line" (a pseudo-terminal nobody opened).
  Exit status 0 only when every answer matched and every block reached a host; 5 otherwise,
  also when stopped early.

Tap links:
  --tap-links HOST DEVICE works in every mode. A program that listens as a tap opens the
  two links as two serial ports, raw, and only reads them. Bytes that pass while nobody has
  a tap open are not kept for it, as on a cable with nothing plugged in; a tap whose reader does
  not keep up loses what its pseudo-terminal cannot take, never holding up the device, and the
  bytes lost are counted on standard error.

Exit status:
  0  quit, end of script or input as asked above, SIGINT, SIGTERM or SIGHUP; a replay in
     which every answer matched
  1  the serial device failed or went away while running
  2  bad option
  3  the device or a pseudo-terminal could not be set up (missing, not a terminal, busy),
     or the --link or --tap-links could not be made
  4  the script or capture cannot be read (not a regular file, say) or has a bad line
     (reported as FILE:LINE: why)
  5  a replay in which an answer differed, was missing or came unexpected, a block was not
     delivered whole or no host opened the line, or that was stopped before the end

)";
    text += CommandHelp();
    return text;
}

}  // namespace norva::sim
