#include "serial/port_name.h"

#include <charconv>
#include <cstdlib>

namespace norva {

std::string DevicePathForPort(const std::string& portName) {
    if (portName.size() < 4 || portName.compare(0, 3, "COM") != 0 || portName[3] == '0') return {};
    unsigned number = 0;
    const char* first = portName.data() + 3;
    const char* last = portName.data() + portName.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number == 0 || number > 256) return {};

    const std::string variable = "NORVA_" + portName;
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') {
        return mapped;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace norva
