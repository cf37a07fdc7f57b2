#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A real pseudo-terminal: the test plays the device on the master side; the code under test
// opens the slave by its path. The slave starts raw so nothing is echoed before the port is set.
class PtyPair {
public:
    PtyPair() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        slavePath_ = name;
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    ~PtyPair() {
        CloseMaster();
        CloseSlave();
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& slavePath() const { return slavePath_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    void Write(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                return;
        }
    }

    // Everything the master receives until the line has been quiet for quietMs.
    std::vector<std::uint8_t> ReadUntilQuiet(int quietMs) const {
        std::vector<std::uint8_t> out;
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) return out;
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return out;
            out.insert(out.end(), buffer, buffer + n);
        }
    }

    // Reads until count bytes arrived or timeoutMs passed.
    std::vector<std::uint8_t> ReadCount(std::size_t count, int timeoutMs) const {
        std::vector<std::uint8_t> out;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) break;
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    // Takes what waits on the slave side, within waitMs: the test plays the host there itself.
    void DrainSlave(int waitMs = 10) const {
        pollfd p{slave_, POLLIN, 0};
        std::uint8_t buffer[4096];
        if (::poll(&p, 1, waitMs) == 1 && (p.revents & POLLIN))
            (void)!::read(slave_, buffer, sizeof buffer);
    }

    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    void CloseSlave() {
        if (slave_ >= 0) ::close(slave_);
        slave_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
