#include "serial/comm_ini.h"

#include <vector>

#include "serial/port_name.h"
#include "textfile/text_lines.h"

namespace norva {

namespace {

// A line of five characters or fewer has no value.
std::string ValueOf(const std::vector<std::string>& lines, std::size_t index) {
    if (index >= lines.size() || lines[index].size() <= 5) return {};
    return lines[index].substr(5);
}

}  // namespace

Outcome WriteCommIni(int portNumber) {
    return WriteTextLines(kCommIniFileName, {"[COMMAND]", "PORT=" + PortName(unsigned(portNumber)),
                                             std::string("COMM=") + kModeString});
}

Result<CommSettings> ReadCommIni() {
    // Only the first three lines are ever looked at.
    const Result<TextLines> read = ReadTextLines(kCommIniFileName, 3);
    if (!read.ok()) return read.outcome();
    return CommSettings{ValueOf(read.value(), 1), ValueOf(read.value(), 2)};
}

}  // namespace norva
