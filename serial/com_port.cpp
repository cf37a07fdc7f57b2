#include "serial/com_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/line_mode.h"
#include "serial/port_name.h"

namespace norva {

PortHandle ComHandle;

namespace {

constexpr int kWriteWaitMs = 100;

// Raw input and output without touching speed, parity or character size, so that a mode string
// that does not parse leaves those as the port had them.
void MakeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CRTSCTS);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

void CloseLocked(int fd, const termios& saved) {
    (void)::tcsetattr(fd, TCSANOW, &saved);
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);  // also drops the lock
}

}  // namespace

PortHandle::~PortHandle() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Open) CloseLocked(fd_, saved_);
}

PortHandle::State PortHandle::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

int PortHandle::fd() const {
    std::lock_guard lock(mutex_);
    return state_ == State::Open ? fd_ : -1;
}

int OpenComPort(PortHandle* handle, const std::string& portName, const std::string& modeString) {
    std::lock_guard lock(handle->mutex_);
    if (handle->state_ == PortHandle::State::Open) return kAlreadyOpen;

    handle->state_ = PortHandle::State::Failed;
    handle->fd_ = -1;
    const std::string path = DevicePathForPort(portName);
    if (path.empty()) return kOpenFailed;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kOpenFailed;

    termios saved{};
    // TIOCEXCL does not stop root, so the lock is what makes the open exclusive in practice.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        return kOpenFailed;
    }
    (void)::ioctl(fd, TIOCEXCL);

    termios settings = saved;
    MakeRaw(settings);
    if (const auto mode = ParseModeString(modeString)) ApplyLineMode(*mode, settings);
    (void)::tcsetattr(fd, TCSANOW, &settings);

    handle->saved_ = saved;
    handle->fd_ = fd;
    handle->state_ = PortHandle::State::Open;
    return kOpened;
}

bool SendByte(PortHandle* handle, std::uint8_t byte) {
    std::lock_guard lock(handle->mutex_);
    if (handle->state_ != PortHandle::State::Open) return false;
    for (;;) {
        const ssize_t n = ::write(handle->fd_, &byte, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // Output queue full (a stalled peer): wait a little, never block the caller for good.
            pollfd p{handle->fd_, POLLOUT, 0};
            if (::poll(&p, 1, kWriteWaitMs) == 1 && (p.revents & POLLOUT)) continue;
        }
        return false;
    }
}

void CloseComPort(PortHandle* handle) {
    std::lock_guard lock(handle->mutex_);
    if (handle->state_ != PortHandle::State::Open) return;
    CloseLocked(handle->fd_, handle->saved_);
    handle->fd_ = -1;
    handle->state_ = PortHandle::State::NotOpen;
}

void ReleaseComPort(PortHandle* handle) {
    CloseComPort(handle);
    std::lock_guard lock(handle->mutex_);
    handle->state_ = PortHandle::State::NotOpen;
}

int InputQueueCount(PortHandle* handle) {
    const int fd = handle->fd();
    int count = 0;
    if (fd < 0 || ::ioctl(fd, TIOCINQ, &count) != 0) return 0;
    return count;
}

std::size_t ReadBlock(PortHandle* handle, std::uint8_t* buffer, std::size_t maxBytes) {
    const int fd = handle->fd();
    if (fd < 0) return 0;
    using Clock = std::chrono::steady_clock;
    std::size_t count = 0;
    auto lastByte = Clock::now();
    while (count < maxBytes) {
        const auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastByte);
        const int remaining = kQuietMs - static_cast<int>(quiet.count());
        if (remaining <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, remaining);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || !(p.revents & POLLIN)) break;  // quiet, error or hang-up
        const ssize_t n = ::read(fd, buffer + count, maxBytes - count);
        if (n > 0) {
            count += static_cast<std::size_t>(n);
            lastByte = Clock::now();
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        break;  // end of file or EIO: the device went away
    }
    return count;
}

}  // namespace norva
