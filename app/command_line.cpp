#include "app/command_line.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "app/memory_budget.h"
#include "billvalues/bill_values.h"
#include "norva_version.h"
#include "serial/comm_ini.h"

namespace norva {

namespace {

constexpr const char* kProgram = "norva-protocol";

std::string HelpText() {
    // Padded to the column the descriptions start in.
    const auto item = [](const std::string& name) {
        return "  " + name + std::string(name.size() < 20 ? 21 - name.size() : 2, ' ');
    };
    return "Usage: " + std::string(kProgram) +
           " [QT-OPTION]...\n"
           "\n"
           "The bench for a banknote acceptor on an RS-232 port: pick a port, watch every byte in\n"
           "the protocol log, answer the acceptor, decide on notes held in escrow, and read the\n"
           "note count, the note in escrow and the credit on three digit displays.\n"
           "\n"
           "It has no arguments of its own besides the two below. Qt's own options, such as\n"
           "-platform or -style, go to Qt; any other argument is ignored.\n"
           "\n"
           "Options:\n"
           "  -h, --help           this text\n"
           "  --version            the program's name and version\n"
           "\n"
           "Files:\n" +
           item(kCommIniFileName) +
           "the port and its line settings, written and read back at every\n"
           "                       port selection, in the folder the program is started from\n" +
           item(kBillValueFileName) +
           "the values of note channels 1 to 16, one a line, in the same\n"
           "                       folder; \"Configure\" edits it\n"
           "  $XDG_CONFIG_HOME/norva-protocol/ports.conf (normally ~/.config/norva-protocol/)\n"
           "                       a device for each port, one COMn=/absolute/path a line; the\n"
           "                       port selector's context menu writes it\n"
           "\n"
           "Environment:\n" +
           item("NORVA_COMn") +
           "the device port COMn opens (NORVA_COM1=/dev/ttyUSB0), ahead of\n"
           "                       ports.conf and /dev/ttyS(n-1)\n" +
           item(kLogBudgetVariable) +
           "the protocol log's memory budget in megabytes (by default a\n"
           "                       quarter of the machine's memory, at least 1 GB)\n" +
           item("XDG_CONFIG_HOME") +
           "the folder of norva-protocol/ports.conf (default ~/.config)\n";
}

}  // namespace

std::optional<int> AnswerOwnArguments(int argc, char* const argv[], std::FILE* out) {
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(HelpText().c_str(), out);
            return 0;
        }
        version = version || argument == "--version";
    }
    if (!version) return std::nullopt;
    std::fputs(VersionText(kProgram).c_str(), out);
    return 0;
}

}  // namespace norva
