// The ports.conf reader: no crash, and every mapping it keeps is one a line could give: a port
// of 1..256 and an absolute path without line ends or surrounding blanks.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "serial/port_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [port, path] : norva::ParsePortsConf(text).ports) {
        const bool sound = port >= 1 && port <= 256 && !path.empty() && path.front() == '/' &&
                           path.find('\n') == std::string::npos && path.back() != ' ' &&
                           path.back() != '\t' && path.back() != '\r' &&
                           text.find(path) != std::string_view::npos;
        if (!sound) {
            std::fprintf(stderr, "COM%u=%s kept\n", port, path.c_str());
            std::abort();
        }
    }
    return 0;
}
