#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The test's side of the line: it plays the bench tool, the simulator plays the acceptor.

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kPatienceMs = 10000;

// Opens the line the way the bench tool does: no controlling terminal, raw, and without
// flushing what the device sent before the open.
inline int OpenHostEnd(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

inline void WriteBytes(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return;
    }
}

// Whatever is readable on fd right now, without waiting.
inline Bytes ReadAvailable(int fd) {
    Bytes out;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return out;
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return out;
        out.insert(out.end(), buffer, buffer + n);
    }
}

// Reads until count bytes came or timeoutMs passed; never more than count.
inline Bytes ReadBytes(int fd, std::size_t count, int timeoutMs = kPatienceMs) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) break;
        std::uint8_t buffer[256];
        const std::size_t want = std::min(sizeof buffer, count - out.size());
        const ssize_t n = ::read(fd, buffer, want);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}
