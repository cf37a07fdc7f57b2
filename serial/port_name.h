#pragma once

#include <string>

namespace norva {

// "COMn" names the device in the environment variable NORVA_COMn when that is set and not
// empty, else /dev/ttyS(n-1). Any other name maps to nothing (an empty path).
std::string DevicePathForPort(const std::string& portName);

}  // namespace norva
