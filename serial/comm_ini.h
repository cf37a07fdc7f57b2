#pragma once

#include <string>

#include "base/result.h"

namespace norva {

inline constexpr const char* kCommIniFileName = "comm.ini";
inline constexpr const char* kModeString = "9600,E,8,1";

// Replaces comm.ini in the working directory with "[COMMAND]", "PORT=COMn" and
// "COMM=9600,E,8,1", each ended by CR LF. A failure carries the error box's text.
Outcome WriteCommIni(int portNumber);

// What the port selection takes from comm.ini, by position: line 2 and line 3, each without its
// first five characters. A missing or short line gives an empty value.
struct CommSettings {
    std::string portName;
    std::string modeString;
};
Result<CommSettings> ReadCommIni();

}  // namespace norva
