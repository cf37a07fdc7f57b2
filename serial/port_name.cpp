#include "serial/port_name.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "textfile/regular_file.h"
#include "textfile/text_lines.h"

namespace norva {

namespace {

// Lines named in a warning, at most; a file of junk would make it endless.
constexpr std::size_t kMaxLinesNamed = 3;

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// What one line says: a comment, a mapping, or a line that is ignored and why.
struct LineMeaning {
    enum class Kind { Comment, Mapping, Ignored } kind = Kind::Comment;
    std::optional<unsigned> port;
    std::string_view path;
    const char* why = "";
};

LineMeaning MeaningOf(std::string_view line) {
    line = Trimmed(line);
    if (line.empty() || line.front() == '#') return {};
    LineMeaning meaning{LineMeaning::Kind::Ignored, {}, {}, "not COMn=/absolute/path"};
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return meaning;
    meaning.port = PortNumberOfName(Trimmed(line.substr(0, equals)));
    if (!meaning.port) {
        meaning.why = "no port COM1 to COM256";
        return meaning;
    }
    const std::string_view value = Trimmed(line.substr(equals + 1));
    if (value.empty()) {
        meaning.why = "no path";
    } else if (value.front() != '/') {
        meaning.why = "a relative path";
    } else if (value.find('\0') == std::string_view::npos) {
        meaning.kind = LineMeaning::Kind::Mapping;
        meaning.path = value;
    }
    return meaning;
}

Outcome MakeFolders(const std::string& folder) {
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return Outcome::Failed("Cannot create folder " + part, errno);
    }
    return {};
}

OpenFileOptions PortsConfReading() {
    return {.followLinks = true, .maxBytes = kMaxPortsConfBytes};
}

// Why COMn falls back to its default although ports.conf may have meant otherwise; empty when
// nothing in the file concerns it.
std::string FallbackWarning(unsigned n, const std::string& defaultPath,
                            const Result<PortsConf>& conf) {
    const std::string file = PortsConfPath();
    std::string named;
    if (!conf.ok()) {
        named = file + " ignored (" + conf.reason() + ")";
    } else {
        std::size_t count = 0;
        for (const PortsConf::IgnoredLine& line : conf->ignored) {
            if (line.port && *line.port != n) continue;
            if (++count > kMaxLinesNamed) continue;
            if (!named.empty()) named += ", ";
            named += file + ":" + std::to_string(line.number) + " ignored (" + line.why + ")";
        }
        if (count > kMaxLinesNamed)
            named += " and " + std::to_string(count - kMaxLinesNamed) + " more";
    }
    if (named.empty()) return {};
    return named + "; COM" + std::to_string(n) + " opens " + defaultPath;
}

Result<PortDevice> NamesNoPort(const std::string& portName) {
    return Result<PortDevice>::Failed("\"" + portName + "\" names no port");
}

std::optional<std::string> FromEnvironment(const std::string& portName) {
    const std::string variable = "NORVA_" + portName;
    const char* mapped = std::getenv(variable.c_str());
    if (mapped == nullptr || *mapped == '\0') return {};
    return mapped;
}

}  // namespace

std::string PortName(unsigned n) {
    return "COM" + std::to_string(n);
}

std::string PortItemText(std::string_view portName) {
    if (!PortNumberOfName(portName)) return std::string(portName);
    return "Com" + std::string(portName.substr(3));
}

std::optional<unsigned> PortNumberOfName(std::string_view portName) {
    if (portName.size() < 4 || portName.substr(0, 3) != "COM" || portName[3] == '0') return {};
    unsigned number = 0;
    const char* first = portName.data() + 3;
    const char* last = portName.data() + portName.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number == 0 || number > 256) return {};
    return number;
}

PortsConf ParsePortsConf(std::string_view text) {
    PortsConf conf;
    std::size_t number = 0;
    for (const std::string_view line : Lines(text)) {
        ++number;
        const LineMeaning meaning = MeaningOf(line);
        if (meaning.kind == LineMeaning::Kind::Mapping)
            conf.ports[*meaning.port] = std::string(meaning.path);
        else if (meaning.kind == LineMeaning::Kind::Ignored)
            conf.ignored.push_back({number, meaning.port, meaning.why});
    }
    return conf;
}

std::string PortsConfPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home != nullptr ? home : "") + "/.config";
    }
    return folder + "/norva-protocol/ports.conf";
}

Result<PortsConf> ReadPortsConf() {
    const Result<std::string> text = ReadRegularFile(PortsConfPath(), PortsConfReading());
    if (text.ok()) return ParsePortsConf(text.value());
    if (text.osError() == ENOENT) return PortsConf{};
    return text.outcome();
}

Result<PortDevice> DeviceForPort(const std::string& portName) {
    if (!PortNumberOfName(portName)) return NamesNoPort(portName);
    if (std::optional<std::string> mapped = FromEnvironment(portName))
        return PortDevice{std::move(*mapped), {}};
    return DeviceForPort(portName, ReadPortsConf());
}

Result<PortDevice> DeviceForPort(const std::string& portName, const Result<PortsConf>& conf) {
    const std::optional<unsigned> number = PortNumberOfName(portName);
    if (!number) return NamesNoPort(portName);
    if (std::optional<std::string> mapped = FromEnvironment(portName))
        return PortDevice{std::move(*mapped), {}};
    if (conf.ok()) {
        if (const auto it = conf->ports.find(*number); it != conf->ports.end())
            return PortDevice{it->second, {}};
    }
    const std::string fallback = "/dev/ttyS" + std::to_string(*number - 1);
    return PortDevice{fallback, FallbackWarning(*number, fallback, conf)};
}

Result<std::string> PortsConfWithMapping(std::string_view text, unsigned n,
                                         const std::string& path) {
    const std::string line = PortName(n) + "=" + path;
    const LineMeaning added = MeaningOf(line);
    if (added.kind != LineMeaning::Kind::Mapping || added.path != path ||
        path.find_first_of("\r\n") != std::string::npos)
        return Result<std::string>::Failed("Cannot give " + path + " to " + PortName(n), 0,
                                           "not an absolute path on one line");
    std::string out;
    out.reserve(text.size() + line.size() + 2);
    for (const std::string_view old : Lines(text)) {
        const LineMeaning meaning = MeaningOf(old);
        if (meaning.kind == LineMeaning::Kind::Mapping && meaning.port == n) continue;
        out.append(old);
        out += '\n';
    }
    out += line;
    out += '\n';
    return out;
}

Outcome AssignPortInPortsConf(unsigned n, const std::string& path) {
    const std::string file = PortsConfPath();
    // Rewriting what was not read whole would drop the rest of the user's lines.
    const Result<std::string> old = ReadRegularFile(file, PortsConfReading());
    if (!old.ok() && old.osError() != ENOENT)
        return Outcome::Failed(old.text(), old.osError(), old.reason() + "; left as it is");
    const Result<std::string> text = PortsConfWithMapping(old.ok() ? old.value() : "", n, path);
    if (!text.ok()) return text.outcome();
    if (Outcome made = MakeFolders(file.substr(0, file.rfind('/'))); !made.ok()) return made;
    return WriteFileSafely(file, text.value());
}

}  // namespace norva
