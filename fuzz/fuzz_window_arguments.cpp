// The window program's own arguments: no crash on any argument list, and it answers (with
// status 0) exactly when one of them is --help, -h or --version, leaving every other list to Qt.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are separated by zero bytes, as the kernel hands them over.
    std::vector<std::string> args{"norva-protocol", ""};
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    bool own = false;
    std::vector<char*> argv;
    for (std::string& arg : args) {
        own = own || arg == "--help" || arg == "-h" || arg == "--version";
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    static std::FILE* const sink = std::fopen("/dev/null", "w");
    const auto status = norva::AnswerOwnArguments(static_cast<int>(args.size()), argv.data(), sink);
    Check(status.has_value() == own, "answers exactly its own arguments");
    Check(!status || *status == 0, "status 0 after answering");
    return 0;
}
