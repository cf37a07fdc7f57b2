#include "tools/acceptor-sim/console.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/hex.h"

namespace norva::sim {

void WriteAll(int fd, std::string_view text, int stopFd) {
    while (!text.empty()) {
        // A pipe or a terminal that reports room takes this much without blocking.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 1, 0) == 0) {
            const int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (stopFd >= 0 && fds[1].revents != 0)) return;
        }
        const ssize_t n = ::write(fd, text.data(), std::min<std::size_t>(text.size(), PIPE_BUF));
        if (n > 0)
            text.remove_prefix(static_cast<std::size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            return;
    }
}

std::string HexText(std::uint8_t byte) {
    std::string text;
    AppendHexByte(text, byte);
    return text;
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
              std::string_view text, int stopFd) {
    std::string line = Stamp(start);
    line += ' ';
    line += marker;
    line += ' ';
    line += text;
    line += '\n';
    WriteAll(fd, line, stopFd);
}

void Console::Print(std::string_view line) const {
    std::string text(line);
    text += '\n';
    WriteAll(outFd_, text, stopFd_);
}

}  // namespace norva::sim
