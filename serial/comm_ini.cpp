#include "serial/comm_ini.h"

#include <cerrno>
#include <vector>

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
    return WriteTextLines(kCommIniFileName, {"[COMMAND]", "PORT=COM" + std::to_string(portNumber),
                                             std::string("COMM=") + kModeString});
}

CommSettings ReadCommIni() {
    errno = 0;
    // Only the first three lines are ever looked at.
    LinesResult read = ReadTextLines(kCommIniFileName, 3);
    CommSettings settings;
    if (!read.ok()) {
        settings.outcome = Outcome::Failed(read.error, errno);
        return settings;
    }
    settings.portName = ValueOf(read.lines, 1);
    settings.modeString = ValueOf(read.lines, 2);
    return settings;
}

}  // namespace norva
