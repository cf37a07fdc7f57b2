#include "tools/norva-cli/cli_options.h"

#include <QCommandLineParser>
#include <charconv>
#include <cmath>
#include <functional>
#include <string_view>

#include "serial/line_mode.h"
#include "serial/port_name.h"

namespace norva::cli {

namespace {

template <typename T>
std::optional<T> Number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> Seconds(std::string_view text) {
    const auto value = Number<double>(text);
    if (!value || !std::isfinite(*value) || *value <= 0 || *value > kMaxSeconds)
        return std::nullopt;
    return value;
}

// Milliseconds for the poll interval and the decision delay: 0 up to a day.
std::optional<int> Millis(std::string_view text) {
    const auto value = Number<int>(text);
    if (!value || *value < 0 || *value > 24 * 3600 * 1000) return std::nullopt;
    return value;
}

// COM1 to COM10, the ports the window offers.
std::optional<int> PortNumber(std::string_view text) {
    const std::optional<unsigned> n = PortNumberOfName(text);
    if (!n || *n > kPortCount) return std::nullopt;
    return static_cast<int>(*n);
}

// Arguments travel as Latin-1, which maps every byte to one character and back, so a file name
// that is not UTF-8 survives the parser.
QString FromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
std::string Bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

const char* const kDescription =
    "Answers a banknote acceptor on one serial port exactly as the bench's window does, and\n"
    "decides on notes by these options instead of an operator. Or, with --tap-host and\n"
    "--tap-device, listens to a live link between a host and an acceptor and sends nothing.";

// What only a host does; a tap sends nothing.
const char* const kHostOnly[] = {"port", "device", "accept", "escrow", "poll", "no-enable"};

const char* const kEpilogue = R"(
Standard output: the protocol log lines, then the summary. Standard error: reasons and notices.
Neither holds up the protocol: lines that standard output does not take in time are dropped
and counted in the summary. The summary waits for standard output as long as it keeps taking
bytes; after 2 s without progress it goes to standard error instead.
Exit status: 0 stopped as asked (a stop condition, SIGINT, SIGTERM); 1 the port (or a tap's
line) could not be opened, or was lost and did not come back ("stopped by port lost"); 2 bad
arguments, or a file they name cannot be used; 3 the acceptor was silent for longer than
--silence; 4 the capture could not be written to the end; 5 standard output failed (closed,
full, nobody reading) or did not take the summary. The first that applies, in this order: 1 or
3, 4, 5.
With --report: 0 written; 2 bad arguments, or the report could not be written; 4 the capture
cannot be read or has a bad line (FILE:LINE: why).
)";

void DefineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addOptions({
        {"port", QString("COM1 to COM%1, mapped to a device as the window maps it").arg(kPortCount),
         "COMn"},
        {"device", "a serial device by path", "PATH"},
        {"values",
         "note values, read by the BILLVALUE.TXT rules (default ./BILLVALUE.TXT; when it is "
         "missing, channel n is worth n)",
         "FILE"},
        {"accept",
         QString("ticked channels, e.g. 1-3,5 (default 1-%1)").arg(kChannelsTickedAtStart), "LIST"},
        {"escrow",
         "no-escrow: accept ticked notes at once;\naccept[:MS] / reject[:MS]: hold the note, then "
         "accept or reject it after MS milliseconds (default accept:0)",
         "MODE"},
        {"poll",
         QString("poll interval (default %1; 0: no polling)").arg(AcceptorLink::kPollIntervalMs),
         "MS"},
        {"notes", "stop after N stacked notes", "N"},
        {"seconds", "stop after S seconds (above 0, at most 31622400: a year)", "S"},
        {"silence",
         "fail when the acceptor has sent nothing for S seconds (above 0, at most 31622400)", "S"},
        {"no-enable",
         "do not enable the acceptor; by default it is enabled (0x5E, as the operator's "
         "\"Enable BA\") each time it reports its power-up"},
        {"capture",
         "record the traffic in the capture format as it happens; an old FILE stays as it was "
         "until the port is open",
         "FILE"},
        {"report",
         "opens no port: writes the picture of the capture --from names to OUT, a page (.html), "
         "an SVG or a PNG by its ending, with no window system; --json also prints its numbers",
         "OUT"},
        {"from", "the capture file --report draws", "CAPTURE"},
        {"timestamps", "put each line's time in front of it"},
        {"tap-host",
         "tap: the line that carries what the host sends, a path or COMn (read only, never "
         "written)",
         "PATH"},
        {"tap-device", "tap: the line that carries what the acceptor sends", "PATH"},
        {"mode", "tap: both lines' settings, as comm.ini writes them (default 9600,E,8,1)", "MODE"},
        {"order-bound",
         "tap: mark the order of two lines' bytes uncertain within MS at least, for lines that "
         "hold bytes back longer than the tap can tell (a network serial server, a hub)",
         "MS"},
        {"json", "print the summary as JSON"},
        {{"h", "help"}, "this text"},
        {"version", "the program's name and version"},
    });
}

}  // namespace

std::optional<std::array<bool, kChannelCount>> ParseChannelList(const std::string& text) {
    std::array<bool, kChannelCount> ticked{};
    std::string_view rest = text;
    if (rest.empty()) return std::nullopt;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const std::size_t dash = item.find('-');
        const auto first = Number<int>(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : Number<int>(item.substr(dash + 1));
        if (!first || !last || *first < 1 || *last > kChannelCount || *first > *last)
            return std::nullopt;
        for (int c = *first; c <= *last; ++c)
            ticked[static_cast<std::size_t>(c - 1)] = true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return ticked;
}

Result<Options> ParseOptions(const std::vector<std::string>& args) {
    QCommandLineParser parser;
    DefineOptions(parser);
    QStringList list{QStringLiteral("norva-cli")};
    for (const std::string& arg : args)
        list << FromBytes(arg);
    const auto bad = [](std::string why) { return Result<Options>::Failed(std::move(why)); };
    if (!parser.parse(list)) {
        std::string why = Bytes(parser.errorText());
        if (why.ends_with('.')) why.pop_back();
        return bad(why + " (see --help)");
    }
    if (!parser.positionalArguments().isEmpty())
        return bad("unknown argument '" + Bytes(parser.positionalArguments().first()) +
                   "' (see --help)");

    Options o;
    using Why = std::optional<std::string>;
    const auto path = [](std::string& target, const char* name) {
        return [&target, name](const std::string& v) -> Why {
            if (v.empty()) return std::string(name) + " needs a path";
            target = v;
            return std::nullopt;
        };
    };
    const auto seconds = [](std::optional<double>& target, const char* name) {
        return [&target, name](const std::string& v) -> Why {
            target = Seconds(v);
            if (!target) {
                return "bad " + std::string(name) + " '" + v +
                       "': expected seconds above 0, at most 31622400";
            }
            return std::nullopt;
        };
    };
    const std::pair<const char*, std::function<Why(const std::string&)>> checks[] = {
        {"port",
         [&o](const std::string& v) -> Why {
             const auto n = PortNumber(v);
             if (!n) return "--port needs COM1 to COM10";
             o.portNumber = *n;
             return std::nullopt;
         }},
        {"device", path(o.device, "--device")},
        {"values", path(o.valuesFile, "--values")},
        {"capture", path(o.capture, "--capture")},
        {"report", path(o.report, "--report")},
        {"from", path(o.from, "--from")},
        {"accept",
         [&o](const std::string& v) -> Why {
             const auto ticked = ParseChannelList(v);
             if (!ticked)
                 return "bad --accept list '" + v + "': expected channels 1 to 16, such as 1-3,5";
             o.ticked = *ticked;
             return std::nullopt;
         }},
        {"escrow",
         [&o](const std::string& v) -> Why {
             const std::size_t colon = v.find(':');
             const std::string mode = v.substr(0, colon);
             std::optional<int> delay = 0;
             if (colon != std::string::npos) delay = Millis(std::string_view(v).substr(colon + 1));
             if (mode == "no-escrow" && colon == std::string::npos) {
                 o.escrow = EscrowMode::NoEscrow;
             } else if ((mode == "accept" || mode == "reject") && delay) {
                 o.escrow = mode == "accept" ? EscrowMode::Accept : EscrowMode::Reject;
                 o.decisionDelayMs = *delay;
             } else {
                 return "bad --escrow '" + v + "': expected no-escrow, accept[:MS] or reject[:MS]";
             }
             return std::nullopt;
         }},
        {"poll",
         [&o](const std::string& v) -> Why {
             const auto ms = Millis(v);
             if (!ms) return "bad --poll '" + v + "': expected 0 to 86400000 ms";
             o.pollMs = *ms;
             return std::nullopt;
         }},
        {"notes",
         [&o](const std::string& v) -> Why {
             o.notes = Number<std::uint64_t>(v);
             if (!o.notes || *o.notes == 0) return "bad --notes '" + v + "': expected 1 or more";
             return std::nullopt;
         }},
        {"seconds", seconds(o.seconds, "--seconds")},
        {"silence", seconds(o.silence, "--silence")},
        {"tap-host", path(o.tapHost, "--tap-host")},
        {"tap-device", path(o.tapDevice, "--tap-device")},
        {"mode",
         [&o](const std::string& v) -> Why {
             if (!ParseModeString(v)) {
                 return "bad --mode '" + v + "': expected line settings such as 9600,E,8,1";
             }
             o.mode = v;
             return std::nullopt;
         }},
        {"order-bound",
         [&o](const std::string& v) -> Why {
             const auto ms = Number<int>(v);
             if (!ms || *ms < 1 || *ms > kMaxOrderBoundMs) {
                 return "bad --order-bound '" + v + "': expected 1 to " +
                        std::to_string(kMaxOrderBoundMs) + " ms";
             }
             o.orderBoundMs = *ms;
             return std::nullopt;
         }},
    };
    // Every value given is checked; the last one counts.
    for (const auto& [name, check] : checks) {
        for (const QString& value : parser.values(QString::fromLatin1(name))) {
            if (const Why why = check(Bytes(value))) return bad(*why);
        }
    }
    o.valuesFileGiven = parser.isSet(QStringLiteral("values"));
    o.enable = !parser.isSet(QStringLiteral("no-enable"));
    o.timestamps = parser.isSet(QStringLiteral("timestamps"));
    o.json = parser.isSet(QStringLiteral("json"));
    o.help = parser.isSet(QStringLiteral("help"));
    o.version = parser.isSet(QStringLiteral("version"));
    if (o.help || o.version) return o;
    if (!o.report.empty() || !o.from.empty()) {
        if (o.report.empty() || o.from.empty())
            return bad("--report OUT and --from CAPTURE go together");
        if (o.portNumber != 0 || !o.device.empty() || o.tapped() || !o.tapDevice.empty())
            return bad("--report draws a capture and opens no port");
        return o;
    }
    if (o.tapped() || !o.tapDevice.empty()) {
        if (o.tapHost.empty() || o.tapDevice.empty())
            return bad("a tap listens to two lines: --tap-host PATH and --tap-device PATH");
        for (const char* name : kHostOnly) {
            if (parser.isSet(QString::fromLatin1(name)))
                return bad("--" + std::string(name) + " is for a host; a tap sends nothing");
        }
        return o;
    }
    for (const char* name : {"mode", "order-bound"}) {
        if (parser.isSet(QString::fromLatin1(name)))
            return bad("--" + std::string(name) + " is for a tap's lines");
    }
    if ((o.portNumber != 0) == !o.device.empty())
        return bad("name one port: --port COMn or --device PATH");
    return o;
}

std::string UsageText() {
    QCommandLineParser parser;
    DefineOptions(parser);
    // Qt's first line names the program as it was started; ours says what it needs.
    const QString help = parser.helpText();
    return "Usage: norva-cli (--port COMn | --device PATH) [options]\n"
           "       norva-cli --tap-host PATH --tap-device PATH [options]\n"
           "       norva-cli --report OUT --from CAPTURE [--json]\n\n" +
           Bytes(help.mid(help.indexOf(QLatin1Char('\n')) + 1)) + kEpilogue;
}

}  // namespace norva::cli
