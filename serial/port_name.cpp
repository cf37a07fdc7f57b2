#include "serial/port_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace norva {

namespace {

constexpr std::size_t kMaxPortsConfBytes = 64 * 1024;

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

// The port a line gives a device to, or 0 when the line is a comment or not a mapping.
unsigned MappedPort(std::string_view line, std::string& path) {
    line = Trimmed(line);
    if (line.empty() || line.front() == '#') return 0;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return 0;
    const unsigned n = PortNumberOfName(Trimmed(line.substr(0, equals)));
    const std::string_view value = Trimmed(line.substr(equals + 1));
    if (n == 0 || value.empty() || value.front() != '/' ||
        value.find('\0') != std::string_view::npos)
        return 0;
    path.assign(value);
    return n;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buffer[4096];
    while (in && text.size() < kMaxPortsConfBytes) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
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

}  // namespace

unsigned PortNumberOfName(std::string_view portName) {
    if (portName.size() < 4 || portName.substr(0, 3) != "COM" || portName[3] == '0') return 0;
    unsigned number = 0;
    const char* first = portName.data() + 3;
    const char* last = portName.data() + portName.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number == 0 || number > 256) return 0;
    return number;
}

std::map<unsigned, std::string> ParsePortsConf(std::string_view text) {
    std::map<unsigned, std::string> ports;
    for (const std::string_view line : Lines(text)) {
        std::string path;
        if (const unsigned n = MappedPort(line, path); n != 0) ports[n] = std::move(path);
    }
    return ports;
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

std::map<unsigned, std::string> ReadPortsConf() {
    return ParsePortsConf(ReadWhole(PortsConfPath()));
}

Outcome AssignPortInPortsConf(unsigned n, const std::string& path) {
    const std::string file = PortsConfPath();
    const std::string folder = file.substr(0, file.rfind('/'));
    if (Outcome made = MakeFolders(folder); !made.ok()) return made;

    const std::string old = ReadWhole(file);  // the lines below point into it
    std::string text;
    for (const std::string_view line : Lines(old)) {
        std::string mapped;
        if (MappedPort(line, mapped) == n) continue;
        text.append(line);
        text += '\n';
    }
    text += "COM" + std::to_string(n) + "=" + path + "\n";

    const std::string temp = file + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return Outcome::Failed("Cannot create file " + file, errno);
    const bool written =
        ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), file.c_str()) != 0) {
        const int cause = written ? errno : error;
        ::unlink(temp.c_str());
        return Outcome::Failed("Cannot create file " + file, cause);
    }
    return {};
}

std::string DevicePathForPort(const std::string& portName) {
    const unsigned number = PortNumberOfName(portName);
    if (number == 0) return {};
    const std::string variable = "NORVA_" + portName;
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') {
        return mapped;
    }
    const auto file = ReadPortsConf();
    if (const auto it = file.find(number); it != file.end()) return it->second;
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace norva
