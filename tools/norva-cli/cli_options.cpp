#include "tools/norva-cli/cli_options.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "tools/common/option_reader.h"

namespace norva::cli {

namespace {

template <typename T>
std::optional<T> Number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Seconds for the stop and silence conditions: above 0, at most a year.
std::optional<double> Seconds(std::string_view text) {
    const auto value = Number<double>(text);
    if (!value || !std::isfinite(*value) || *value <= 0 || *value > 366.0 * 24 * 3600) {
        return std::nullopt;
    }
    return value;
}

// Milliseconds for the poll interval and the decision delay: 0 up to a day.
std::optional<int> Millis(std::string_view text) {
    const auto value = Number<int>(text);
    if (!value || *value < 0 || *value > 24 * 3600 * 1000) return std::nullopt;
    return value;
}

std::optional<int> PortNumber(std::string_view text) {
    if (text.size() < 4 || text.substr(0, 3) != "COM") return std::nullopt;
    const auto n = Number<int>(text.substr(3));
    if (!n || *n < 1 || *n > 10 || text[3] == '0' || text[3] == '+') return std::nullopt;
    return n;
}

}  // namespace

std::optional<std::array<bool, 16>> ParseChannelList(const std::string& text) {
    std::array<bool, 16> ticked{};
    std::string_view rest = text;
    if (rest.empty()) return std::nullopt;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const std::size_t dash = item.find('-');
        const auto first = Number<int>(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : Number<int>(item.substr(dash + 1));
        if (!first || !last || *first < 1 || *last > 16 || *first > *last) return std::nullopt;
        for (int c = *first; c <= *last; ++c)
            ticked[static_cast<std::size_t>(c - 1)] = true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return ticked;
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    Options& o = result.options;
    const auto fail = [&result](std::string why) {
        result.error = std::move(why);
        return result;
    };
    bool portGiven = false;

    for (tools::OptionReader arg(args); arg.Next();) {
        const std::string& name = arg.name();
        const auto noValue = [&] { return !arg.HasInlineValue(); };
        const auto value = [&] { return arg.Value(); };

        if (name == "--help" || name == "-h") {
            if (!noValue()) return fail(name + " takes no value");
            o.help = true;
        } else if (name == "--version") {
            if (!noValue()) return fail(name + " takes no value");
            o.version = true;
        } else if (name == "--no-enable") {
            if (!noValue()) return fail(name + " takes no value");
            o.enable = false;
        } else if (name == "--timestamps" || name == "--json") {
            if (!noValue()) return fail(name + " takes no value");
            (name == "--json" ? o.json : o.timestamps) = true;
        } else if (name == "--port") {
            const auto v = value();
            const auto n = v ? PortNumber(*v) : std::nullopt;
            if (!n) return fail("--port needs COM1 to COM10");
            o.portNumber = *n;
            portGiven = true;
        } else if (name == "--device" || name == "--values" || name == "--capture") {
            const auto v = value();
            if (!v || v->empty()) return fail(name + " needs a path");
            if (name == "--device") o.device = *v;
            if (name == "--capture") o.capture = *v;
            if (name == "--values") {
                o.valuesFile = *v;
                o.valuesFileGiven = true;
            }
        } else if (name == "--accept") {
            const auto v = value();
            const auto ticked = v ? ParseChannelList(*v) : std::nullopt;
            if (!ticked) {
                return fail("bad --accept list '" + v.value_or("") +
                            "': expected channels 1 to 16, such as 1-3,5");
            }
            o.ticked = *ticked;
        } else if (name == "--escrow") {
            const auto v = value().value_or("");
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
                return fail("bad --escrow '" + v +
                            "': expected no-escrow, accept[:MS] or reject[:MS]");
            }
        } else if (name == "--poll") {
            const auto v = value();
            const auto ms = v ? Millis(*v) : std::nullopt;
            if (!ms) return fail("bad --poll '" + v.value_or("") + "': expected 0 to 86400000 ms");
            o.pollMs = *ms;
        } else if (name == "--notes") {
            const auto v = value();
            const auto n = v ? Number<std::uint64_t>(*v) : std::nullopt;
            if (!n || *n == 0)
                return fail("bad --notes '" + v.value_or("") + "': expected 1 or more");
            o.notes = n;
        } else if (name == "--seconds" || name == "--silence") {
            const auto v = value();
            const auto s = v ? Seconds(*v) : std::nullopt;
            if (!s)
                return fail("bad " + name + " '" + v.value_or("") + "': expected seconds above 0");
            (name == "--seconds" ? o.seconds : o.silence) = s;
        } else {
            return fail("unknown argument '" + arg.raw() + "' (see --help)");
        }
    }
    if (o.help || o.version) return result;
    if (portGiven == !o.device.empty()) return fail("name one port: --port COMn or --device PATH");
    return result;
}

std::string UsageText() {
    return R"(Usage: norva-cli (--port COMn | --device PATH) [options]

Answers a banknote acceptor on one serial port exactly as the bench's window does, and decides
on notes by these options instead of an operator.

  --port COMn          COM1 to COM10, mapped to a device as the window maps it
  --device PATH        a serial device by path
  --values FILE        note values, read by the BILLVALUE.TXT rules (default ./BILLVALUE.TXT;
                       when it is missing, channel n is worth n)
  --accept LIST        ticked channels, e.g. 1-3,5 (default 1-3)
  --escrow MODE        no-escrow: accept ticked notes at once;
                       accept[:MS] / reject[:MS]: hold the note, then accept or reject it
                       after MS milliseconds (default accept:0)
  --poll MS            poll interval (default 1500; 0: no polling)
  --notes N            stop after N stacked notes
  --seconds S          stop after S seconds
  --silence S          fail when the acceptor has sent nothing for S seconds
  --no-enable          do not enable the acceptor; by default it is enabled (0x5E, as the
                       operator's "Enable BA") each time it reports its power-up
  --capture FILE       record the traffic in the capture format as it happens
  --timestamps         put each line's time in front of it
  --json               print the summary as JSON
  -h, --help           this text
  --version            the program's name and version

Standard output: the protocol log lines, then the summary. Standard error: reasons and notices.
Exit status: 0 stopped as asked (a stop condition, SIGINT, SIGTERM); 1 the port could not be
opened, or was lost and did not come back; 2 bad arguments; 3 the acceptor was silent for
longer than --silence.
)";
}

}  // namespace norva::cli
