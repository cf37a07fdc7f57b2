// Giving a device to a port in ports.conf: the rewrite of a file of any text keeps every line that
// does not give a device to that port byte for byte and in order, the other ports' mappings as
// they were, and reads back the new mapping; a path that would not read back is refused.
// Input: one byte for the port (1..256), one for the path's length, the path, then the file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "serial/port_name.h"

namespace {

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned n = 1u + data[0];
    const std::size_t pathSize = std::min<std::size_t>(data[1], size - 2);
    const std::string path(reinterpret_cast<const char*>(data + 2), pathSize);
    const std::string_view text(reinterpret_cast<const char*>(data + 2 + pathSize),
                                size - 2 - pathSize);

    const bool writable = !path.empty() && path.front() == '/' &&
                          path.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos &&
                          path.back() != ' ' && path.back() != '\t';
    const norva::Result<std::string> rewritten = norva::PortsConfWithMapping(text, n, path);
    Check(rewritten.ok() == writable, "a path refused or taken wrongly");
    if (!rewritten.ok()) return 0;

    const norva::PortsConf before = norva::ParsePortsConf(text);
    const norva::PortsConf after = norva::ParsePortsConf(rewritten.value());
    auto expected = before.ports;
    expected[n] = path;
    Check(after.ports == expected, "the mappings changed beyond the port given");

    // The old lines, less those that gave a device to n, then the new one.
    std::vector<std::string_view> kept;
    for (const std::string_view line : Lines(text)) {
        const norva::PortsConf alone = norva::ParsePortsConf(line);
        if (!alone.ports.contains(n)) kept.push_back(line);
    }
    const std::vector<std::string_view> out = Lines(rewritten.value());
    Check(!out.empty() && out.back() == "COM" + std::to_string(n) + "=" + path,
          "the new mapping is not the last line");
    Check(std::vector(out.begin(), out.end() - 1) == kept, "another line changed or went");
    return 0;
}
