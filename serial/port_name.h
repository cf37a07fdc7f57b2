#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace norva {

// The window offers ports "Com1" to "Com10"; behind them stand the port names "COM1" to
// "COM10" that comm.ini holds. ports.conf and NORVA_COMn map names up to COM256.
inline constexpr int kPortCount = 10;
// "COMn".
std::string PortName(unsigned n);
// The selector's item for "COMn": "Comn". Any other text is kept as it is.
std::string PortItemText(std::string_view portName);

// The number n of "COMn" (1..256); nothing for any other text.
std::optional<unsigned> PortNumberOfName(std::string_view portName);

// ports.conf: lines "COMn=PATH" with an absolute path; blanks around either side are dropped;
// blank lines and lines starting with # are comments; any other line is ignored, and so is a
// later line for the same port's earlier one. The ignored lines are kept with their number
// (counted from 1) and why, so that a port that falls back to its default can say which.
struct PortsConf {
    struct IgnoredLine {
        std::size_t number = 0;
        std::optional<unsigned> port;  // the port it names, when it names one
        std::string why;
    };
    std::map<unsigned, std::string> ports;
    std::vector<IgnoredLine> ignored;
};
PortsConf ParsePortsConf(std::string_view text);

// $XDG_CONFIG_HOME/norva-protocol/ports.conf, or ~/.config/norva-protocol/ports.conf when that is
// not set to an absolute path.
std::string PortsConfPath();
// Larger files are refused: a list of at most 256 mappings has no need of more.
inline constexpr std::size_t kMaxPortsConfBytes = 1 << 20;
// The file read whole. A missing file is an empty one; one that cannot be read whole (a FIFO, a
// folder, a device, unreadable, too large) is a failure reading CannotOpenText(PortsConfPath()),
// the reason apart.
Result<PortsConf> ReadPortsConf();

// Where "COMn" leads, in this order: the device in the environment variable NORVA_COMn when that
// is set and not empty; else the device given to it in ports.conf; else /dev/ttyS(n-1). When it
// falls back to the default while ports.conf has lines that may have been meant for it (lines
// for it, or naming no port) or could not be read, the warning says so, naming FILE:LINE. Any
// other name is a failure: "\"NAME\" names no port".
struct PortDevice {
    std::string path;
    std::string warning;
};
Result<PortDevice> DeviceForPort(const std::string& portName);
// The same with ports.conf already read, for asking about several ports at once.
Result<PortDevice> DeviceForPort(const std::string& portName, const Result<PortsConf>& conf);

// The text with every line that gives a device to COMn dropped and "COMn=PATH" added at the end;
// every other line stays as it was, byte for byte. A path that would not read back as itself
// (not absolute, on more than one line, with blanks around it) is refused.
Result<std::string> PortsConfWithMapping(std::string_view text, unsigned n,
                                         const std::string& path);

// Gives the device at path to COMn in ports.conf, keeping the file's other lines; the folder is
// made when missing and the file replaced whole. A file that could not be read whole is left as
// it is.
Outcome AssignPortInPortsConf(unsigned n, const std::string& path);

}  // namespace norva
