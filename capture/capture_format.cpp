#include "capture/capture_format.h"

#include <algorithm>

#include "base/hex.h"
#include "textfile/printable.h"

namespace norva {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::string_view kPortPrefix = "# port ";
constexpr std::size_t kTimeLength = 27;  // 2026-12-09T03:14:15.123456Z

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

void AppendDigits(std::string& out, std::int64_t value, int width) {
    char text[24];
    int n = 0;
    do {
        text[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 || n < width);
    while (n > 0)
        out += text[--n];
}

void AppendCleaned(std::string& out, std::string_view text, bool blanksToo) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            out += '?';
        else if (blanksToo && c == ' ')
            out += '_';
        else
            out += c;
    }
}

// A field left empty (a device opened by its path has no port name) reads "-".
constexpr std::string_view kEmptyField = "-";

void AppendPortField(std::string& out, std::string_view text, bool blanksToo) {
    if (text.empty()) out += kEmptyField;
    AppendCleaned(out, text, blanksToo);
}

std::string PortField(std::string_view text) {
    return text == kEmptyField ? std::string() : std::string(text);
}

bool ParseFixed(std::string_view text, std::size_t at, std::size_t width, unsigned& value) {
    value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

bool IsLeapYear(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool ParseTime(std::string_view text, std::int64_t& micros) {
    if (text.size() != kTimeLength) return false;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        text[19] != '.' || text[26] != 'Z') {
        return false;
    }
    unsigned year, month, day, hour, minute, second, fraction;
    if (!ParseFixed(text, 0, 4, year) || !ParseFixed(text, 5, 2, month) ||
        !ParseFixed(text, 8, 2, day) || !ParseFixed(text, 11, 2, hour) ||
        !ParseFixed(text, 14, 2, minute) || !ParseFixed(text, 17, 2, second) ||
        !ParseFixed(text, 20, 6, fraction)) {
        return false;
    }
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) return false;
    const unsigned monthDays = kDays[month - 1] + (month == 2 && IsLeapYear(year));
    if (day < 1 || day > monthDays) return false;
    const std::int64_t days = DaysFromCivil(year, month, day);
    micros = ((days * kSecondsPerDay + hour * 3600 + minute * 60 + second) * kMicrosPerSecond) +
             fraction;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// What is wrong with a line; the reader puts where in front.
Outcome Bad(std::string why) {
    return Outcome::Failed({}, 0, std::move(why));
}

// A piece of the line quoted in a reason, fit for a terminal.
std::string Quoted(std::string_view text, std::size_t most) {
    std::string quoted(1, '\'');
    quoted += Printable(text.substr(0, most));
    if (text.size() > most) quoted += "...";
    quoted += '\'';
    return quoted;
}

Outcome ParseEventLine(std::string_view line, CaptureEvent& event) {
    event.port = {};
    event.bytes.clear();
    const std::size_t blank = line.find(' ');
    const std::string_view time = line.substr(0, blank);
    if (!ParseTime(time, event.unixMicros)) {
        return Bad("bad time " + Quoted(time, 40) +
                   ": expected one such as 2026-12-09T03:14:15.123456Z");
    }
    if (blank == std::string_view::npos) return Bad("expected RX or TX after the time");
    std::string_view rest = line.substr(blank + 1);
    const std::string_view direction = rest.substr(0, rest.find(' '));
    if (direction == "RX") {
        event.kind = TrafficKind::Received;
    } else if (direction == "TX") {
        event.kind = TrafficKind::Sent;
    } else {
        return Bad("expected RX or TX after the time, not " + Quoted(direction, 20));
    }
    rest.remove_prefix(direction.size());
    while (!rest.empty()) {
        rest.remove_prefix(1);
        if (rest.empty() || rest[0] == ' ') return Bad("expected one blank between bytes");
        const std::string_view token = rest.substr(0, rest.find(' '));
        const int high = token.size() == 2 ? HexValue(token[0]) : -1;
        const int low = token.size() == 2 ? HexValue(token[1]) : -1;
        if (high < 0 || low < 0)
            return Bad("bad byte " + Quoted(token, 20) + ": expected two hexadecimal digits");
        event.bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        rest.remove_prefix(token.size());
    }
    if (event.kind == TrafficKind::Received && event.bytes.empty())
        return Bad("an RX line needs at least one byte");
    if (event.kind == TrafficKind::Sent && event.bytes.size() != 1)
        return Bad("a TX line holds exactly one byte");
    return {};
}

Outcome ParsePortLine(std::string_view rest, CaptureEvent& event) {
    const bool control = std::any_of(rest.begin(), rest.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
    if (control) return Bad("control character in the port line");
    const std::size_t first = rest.find(' ');
    const std::size_t last = rest.rfind(' ');
    if (first == std::string_view::npos || first == last)
        return Bad("bad port line: expected # port NAME DEVICE MODE");
    event.kind = TrafficKind::Port;
    event.unixMicros = 0;
    event.bytes.clear();
    event.port.portName = PortField(rest.substr(0, first));
    event.port.devicePath = PortField(rest.substr(first + 1, last - first - 1));
    event.port.modeString = PortField(rest.substr(last + 1));
    return {};
}

// Reads what one line holds: an event, or nothing (a comment, a blank line).
Result<bool> ParseLine(std::string_view line, bool ended, CaptureEvent& event) {
    // A zero byte would cut a reason short wherever it is shown; show the whole line instead.
    if (line.find('\0') != std::string_view::npos)
        return Bad("a zero byte in the line " + Quoted(line, 200));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A port line is taken as it stands: a device path or an empty mode may end in a blank.
    const bool port = line.starts_with(kPortPrefix);
    if (!port) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
    }
    // Whatever a cut line still reads as, it is not what was written.
    if (!ended && !line.empty()) return Bad("cut off: the last line has no line end");
    if (!port && (line.empty() || line.starts_with('#'))) return false;
    const Outcome parsed =
        port ? ParsePortLine(line.substr(kPortPrefix.size()), event) : ParseEventLine(line, event);
    if (!parsed.ok()) return parsed;
    return true;
}

}  // namespace

void AppendUtcTime(std::string& out, std::int64_t unixMicros) {
    const std::int64_t seconds = FloorDiv(unixMicros, kMicrosPerSecond);
    const std::int64_t fraction = unixMicros - seconds * kMicrosPerSecond;
    const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const std::int64_t ofDay = seconds - days * kSecondsPerDay;
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    AppendDigits(out, year < 0 ? 0 : year, 4);
    out += '-';
    AppendDigits(out, month, 2);
    out += '-';
    AppendDigits(out, day, 2);
    out += 'T';
    AppendDigits(out, ofDay / 3600, 2);
    out += ':';
    AppendDigits(out, ofDay / 60 % 60, 2);
    out += ':';
    AppendDigits(out, ofDay % 60, 2);
    out += '.';
    AppendDigits(out, fraction, 6);
    out += 'Z';
}

void AppendPortLine(std::string& out, const PortIdentity& port) {
    out += kPortPrefix;
    AppendPortField(out, port.portName, true);
    out += ' ';
    AppendPortField(out, port.devicePath, false);
    out += ' ';
    AppendPortField(out, port.modeString, true);
    out += '\n';
}

void AppendReceivedLine(std::string& out, std::int64_t unixMicros,
                        std::span<const std::uint8_t> block) {
    AppendUtcTime(out, unixMicros);
    out += " RX";
    for (const std::uint8_t byte : block) {
        out += ' ';
        AppendHexByte(out, byte);
    }
    out += '\n';
}

void AppendSentLine(std::string& out, std::int64_t unixMicros, std::uint8_t byte) {
    AppendUtcTime(out, unixMicros);
    out += " TX ";
    AppendHexByte(out, byte);
    out += '\n';
}

void AppendCommentLine(std::string& out, std::string_view text) {
    out += "# ";
    AppendCleaned(out, text, false);
    out += '\n';
}

std::string FormatCapture(const std::vector<CaptureEvent>& events) {
    std::string out(kCaptureHeader);
    out += '\n';
    for (const CaptureEvent& event : events) {
        switch (event.kind) {
            case TrafficKind::Port:
                AppendPortLine(out, event.port);
                break;
            case TrafficKind::Received:
                AppendReceivedLine(out, event.unixMicros, event.bytes);
                break;
            case TrafficKind::Sent:
                for (const std::uint8_t byte : event.bytes)
                    AppendSentLine(out, event.unixMicros, byte);
                break;
        }
    }
    return out;
}

Result<CaptureReader> CaptureReader::Open(const std::string& fileName) {
    Result<LineReader> lines = LineReader::Open(fileName, kMaxCaptureLineBytes);
    if (!lines.ok())
        return Outcome::Failed(fileName + ": cannot read", lines.osError(), lines.reason());
    return CaptureReader(std::move(lines).value());
}

CaptureReader CaptureReader::FromText(std::string_view text, std::string name) {
    return CaptureReader(LineReader::FromText(text, std::move(name), kMaxCaptureLineBytes));
}

Result<bool> CaptureReader::Next() {
    for (;;) {
        Result<bool> more = lines_.Next();
        if (!more.ok() || !more.value()) return more;
        Result<bool> parsed = ParseLine(lines_.line(), lines_.lineEnded(), event_);
        if (!parsed.ok()) return Outcome::Failed(lines_.Where(), parsed.osError(), parsed.reason());
        if (parsed.value()) return true;
    }
}

namespace {

Result<std::vector<CaptureEvent>> ReadAll(CaptureReader& reader) {
    std::vector<CaptureEvent> events;
    for (;;) {
        Result<bool> more = reader.Next();
        if (!more.ok()) return more.outcome();
        if (!more.value()) return events;
        events.push_back(reader.event());
    }
}

}  // namespace

Result<std::vector<CaptureEvent>> ParseCapture(std::string_view text) {
    CaptureReader reader = CaptureReader::FromText(text);
    return ReadAll(reader);
}

Result<std::vector<CaptureEvent>> ReadCaptureFile(const std::string& fileName) {
    Result<CaptureReader> reader = CaptureReader::Open(fileName);
    if (!reader.ok()) return reader.outcome();
    return ReadAll(reader.value());
}

}  // namespace norva
