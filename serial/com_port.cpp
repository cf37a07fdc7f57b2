#include "serial/com_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/unix_time.h"
#include "serial/line_mode.h"
#include "serial/open_reason.h"
#include "serial/port_exclusion.h"
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

void CloseLocked(int fd, const termios& saved, std::vector<std::string>& lockFiles) {
    (void)::tcsetattr(fd, TCSANOW, &saved);
    (void)::ioctl(fd, TIOCNXCL);
    // The lock files go before the descriptor: closing a pseudo-terminal's last descriptor frees
    // its number, and another process's new terminal with that number must not find our lock.
    DropUucpLocks(lockFiles);
    lockFiles.clear();
    ::close(fd);  // also drops the flock
}

// The C library calls a setting the driver did not keep refused. A pseudo-terminal keeps no
// parity (there is no line to carry it), so that is no refusal there.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && IsPtySlave(st);
}

Result<OpenedPort> Failure(std::string text, int osError) {
    return Outcome::Failed(std::move(text), osError);
}

Result<OpenedPort> FailureForErrno(const std::string& path, int osError) {
    switch (osError) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:  // a node with no hardware behind it, or a terminal that hung up
            return Failure(NoSuchDeviceText(path), osError);
        case EACCES:
        case EPERM:
            return Failure(PermissionDeniedText(path, StandingFor(path)), osError);
        case EBUSY:
            return Failure(BusyText(path, OtherHoldersOf(path)), osError);
        case ENOTTY:
            return Failure(NotSerialDeviceText(path), osError);
        default:
            return Failure(OtherOpenFailureText(path, osError), osError);
    }
}

void AddWarning(std::string& warnings, const std::string& warning) {
    if (warning.empty()) return;
    if (!warnings.empty()) warnings += "; ";
    warnings += warning;
}

}  // namespace

PortHandle::~PortHandle() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Open) CloseLocked(fd_, saved_, lockFiles_);
}

std::string PortHandle::devicePath() const {
    std::lock_guard lock(mutex_);
    return devicePath_;
}

std::string PortHandle::modeString() const {
    std::lock_guard lock(mutex_);
    return modeString_;
}

bool PortHandle::mayComeBack() const {
    std::lock_guard lock(mutex_);
    return mayComeBack_;
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
    const Result<OpenedPort> opened = OpenPort(handle, portName, modeString);
    if (!opened.ok()) return kOpenFailed;
    return opened->wasOpen ? kAlreadyOpen : kOpened;
}

Result<OpenedPort> OpenPort(PortHandle* handle, const std::string& portName,
                            const std::string& modeString) {
    if (handle->IsOpen()) return OpenedPort{handle->devicePath(), {}, true};
    const Result<PortDevice> device = DeviceForPort(portName);
    if (!device.ok()) {
        std::lock_guard lock(handle->mutex_);
        handle->state_ = PortHandle::State::Failed;
        return device.outcome();
    }
    Result<OpenedPort> opened = OpenDevice(handle, device->path, modeString);
    // A port that fell back to its default says why, whether it opened or not.
    if (device->warning.empty()) return opened;
    if (!opened.ok())
        return Outcome::Failed(opened.text() + "; " + device->warning, opened.osError());
    AddWarning(opened->warning, device->warning);
    return opened;
}

Result<OpenedPort> OpenDevice(PortHandle* handle, const std::string& path,
                              const std::string& modeString) {
    std::lock_guard lock(handle->mutex_);
    if (handle->state_ == PortHandle::State::Open) return OpenedPort{handle->devicePath_, {}, true};

    handle->state_ = PortHandle::State::Failed;
    handle->fd_ = -1;
    Result<UucpLocks> locks = TakeUucpLocks(path);
    if (!locks.ok()) return locks.outcome();
    const auto fail = [&](Result<OpenedPort> failure) {
        DropUucpLocks(locks->paths);
        return failure;
    };

    const int access = handle->access_ == PortHandle::Access::ReadOnly ? O_RDONLY : O_RDWR;
    const int fd = ::open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(FailureForErrno(path, errno));
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        // A hung-up terminal says EIO here; only a device that is no terminal says ENOTTY.
        const int error = errno;
        ::close(fd);
        return fail(error == ENOTTY || error == EINVAL ? Failure(NotSerialDeviceText(path), ENOTTY)
                                                       : FailureForErrno(path, error));
    }
    // TIOCEXCL does not stop root, and a program that locks nothing is seen only in /proc, so
    // all three guards are needed.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(Failure(BusyText(path, OtherHoldersOf(path)), error));
    }
    if (const auto holders = OtherHoldersOf(path); !holders.empty()) {
        ::close(fd);
        return fail(Failure(BusyText(path, holders), EBUSY));
    }
    (void)::ioctl(fd, TIOCEXCL);

    termios settings = saved;
    MakeRaw(settings);
    if (const auto mode = ParseModeString(modeString)) ApplyLineMode(*mode, settings);
    OpenedPort opened{path, {}, false};
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        const int error = errno;
        if (!(error == EINVAL && IsPseudoTerminal(fd)))
            opened.warning = path + ": line settings refused (" + std::strerror(error) + ")";
    }
    AddWarning(opened.warning, locks->warning);

    handle->saved_ = saved;
    handle->fd_ = fd;
    handle->state_ = PortHandle::State::Open;
    handle->devicePath_ = path;
    handle->modeString_ = modeString;
    struct stat given {};
    handle->mayComeBack_ = !(::lstat(path.c_str(), &given) == 0 && IsPtySlave(given));
    handle->lockFiles_ = std::move(locks->paths);
    return opened;
}

bool SendByte(PortHandle* handle, std::uint8_t byte) {
    std::lock_guard lock(handle->mutex_);
    if (handle->state_ != PortHandle::State::Open ||
        handle->access_ == PortHandle::Access::ReadOnly)
        return false;
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
    CloseLocked(handle->fd_, handle->saved_, handle->lockFiles_);
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
    return ReadBlockUntilStop(handle, buffer, maxBytes, -1).count;
}

BlockRead ReadBlockUntilStop(PortHandle* handle, std::uint8_t* buffer, std::size_t maxBytes,
                             int stopEvent) {
    BlockRead result;
    const int fd = handle->fd();
    if (fd < 0) return result;
    using Clock = std::chrono::steady_clock;
    auto lastByte = Clock::now();
    while (result.count < maxBytes) {
        const auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastByte);
        const int remaining = kQuietMs - static_cast<int>(quiet.count());
        if (remaining <= 0) break;
        pollfd p[2] = {{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        const int ready = ::poll(p, stopEvent >= 0 ? 2 : 1, remaining);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || p[1].revents != 0) break;  // quiet, failed, or a stop
        if (!(p[0].revents & POLLIN)) {
            result.lineLost = true;  // hang-up or error with nothing left to read
            break;
        }
        const ssize_t n = ::read(fd, buffer + result.count, maxBytes - result.count);
        if (n > 0) {
            result.lastByteUnixMicros = UnixMicrosNow();
            if (result.count == 0) result.firstByteUnixMicros = result.lastByteUnixMicros;
            result.count += static_cast<std::size_t>(n);
            lastByte = Clock::now();
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        result.lineLost = true;  // end of file or EIO: the device went away
        break;
    }
    return result;
}

}  // namespace norva
