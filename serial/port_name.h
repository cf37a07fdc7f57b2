#pragma once

#include <map>
#include <string>
#include <string_view>

#include "base/result.h"

namespace norva {

// "COMn" names, in this order: the device in the environment variable NORVA_COMn when that is set
// and not empty; else the device given to it in ports.conf; else /dev/ttyS(n-1). Any other name
// maps to nothing (an empty path).
std::string DevicePathForPort(const std::string& portName);

// The number n of "COMn" (1..256), or 0 for any other text.
unsigned PortNumberOfName(std::string_view portName);

// ports.conf: lines "COMn=PATH" with an absolute path; blanks around either side are dropped;
// blank lines and lines starting with # are comments; any other line is ignored, and so is a
// later line for the same port's earlier one.
std::map<unsigned, std::string> ParsePortsConf(std::string_view text);

// $XDG_CONFIG_HOME/norva-protocol/ports.conf, or ~/.config/norva-protocol/ports.conf when that is
// not set to an absolute path.
std::string PortsConfPath();
std::map<unsigned, std::string> ReadPortsConf();

// Gives the device at path to COMn in ports.conf, keeping the file's other lines; the folder is
// made when missing and the file replaced whole.
Outcome AssignPortInPortsConf(unsigned n, const std::string& path);

}  // namespace norva
