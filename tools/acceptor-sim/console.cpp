#include "tools/acceptor-sim/console.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace norva::sim {

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0)
            text.remove_prefix(static_cast<std::size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            return;
    }
}

std::string HexText(std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string HexText(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += HexText(bytes[i]);
    }
    return text;
}

std::string Stamp(std::chrono::steady_clock::time_point start) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now() - start).count();
    char text[32];
    std::snprintf(text, sizeof text, "%5lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

void TellLine(int fd, std::chrono::steady_clock::time_point start, std::string_view marker,
              std::string_view text) {
    std::string line = Stamp(start);
    line += ' ';
    line += marker;
    line += ' ';
    line += text;
    line += '\n';
    WriteAll(fd, line);
}

void Console::Print(std::string_view line) const {
    std::string text(line);
    text += '\n';
    WriteAll(outFd_, text);
}

}  // namespace norva::sim
