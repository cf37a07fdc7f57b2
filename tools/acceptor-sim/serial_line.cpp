#include "tools/acceptor-sim/serial_line.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "serial/comm_ini.h"
#include "serial/line_mode.h"

namespace norva::sim {

namespace {

Outcome Why(const std::string& what) {
    return Outcome::Failed(what, errno);
}

void MakeRaw(termios& t) {
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | HUPCL);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

// The links standing, in plain arrays a signal handler may read. A slot is filled before it is
// marked used, and unmarked before it is cleared.
struct LinkSlot {
    char path[PATH_MAX];
    char target[PATH_MAX];
    volatile sig_atomic_t used;
};
std::array<LinkSlot, 4> gLinks{};

// Async-signal-safe: readlink, strcmp and unlink only.
void RemoveStandingLinks() {
    for (LinkSlot& slot : gLinks) {
        if (!slot.used) continue;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(slot.path, target, sizeof target - 1);
        if (n < 0) continue;
        target[n] = '\0';
        if (std::strcmp(target, slot.target) == 0) ::unlink(slot.path);
    }
}

using Handler = void (*)(int);
std::array<Handler, NSIG> gFirstHandlers{};
volatile sig_atomic_t gStopSignalled = 0;

extern "C" void OnStopOrLastSignal(int signal) {
    const Handler first = gFirstHandlers[static_cast<std::size_t>(signal)];
    if (!gStopSignalled && first != nullptr) {
        gStopSignalled = 1;
        first(signal);
        return;
    }
    RemoveStandingLinks();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

void ConfigureDeviceLine(termios& settings) {
    MakeRaw(settings);
    if (const auto mode = ParseModeString(kModeString)) ApplyLineMode(*mode, settings);
}

Result<std::unique_ptr<SerialLine>> SerialLine::CreatePty(Slave slave) {
    std::unique_ptr<SerialLine> line(new SerialLine);
    line->pty_ = true;
    line->fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line->fd_ < 0) return Why("cannot make a pseudo-terminal");
    char name[128] = {};
    if (::grantpt(line->fd_) != 0 || ::unlockpt(line->fd_) != 0 ||
        ::ptsname_r(line->fd_, name, sizeof name) != 0) {
        return Why("cannot unlock the pseudo-terminal");
    }
    line->path_ = name;
    line->slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (line->slaveFd_ < 0 || ::tcgetattr(line->slaveFd_, &t) != 0)
        return Why("cannot open " + line->path_);
    ConfigureDeviceLine(t);
    if (::tcsetattr(line->slaveFd_, TCSANOW, &t) != 0 ||
        ::fcntl(line->fd_, F_SETFL, ::fcntl(line->fd_, F_GETFL) | O_NONBLOCK) != 0) {
        return Why("cannot set up " + line->path_);
    }
    if (slave == Slave::Released) {
        ::close(line->slaveFd_);
        line->slaveFd_ = -1;
        return line;
    }
    // Our own open came before the watch: whatever it reports is a host's.
    line->opens_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (line->opens_.valid() && ::inotify_add_watch(line->opens_.get(), name, IN_OPEN) < 0)
        line->opens_.Reset();
    return line;
}

Result<std::unique_ptr<SerialLine>> SerialLine::OpenDevice(const std::string& path) {
    std::unique_ptr<SerialLine> line(new SerialLine);
    line->path_ = path;
    line->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0) return Why("cannot open " + path);
    if (!::isatty(line->fd_))
        return Outcome::Failed(path, ENOTTY, "not a serial device (not a terminal)");
    // The bench tool locks the port it opens; taking the same lock keeps two programs apart.
    if (::flock(line->fd_, LOCK_EX | LOCK_NB) != 0) return Why(path + " is in use");
    if (::tcgetattr(line->fd_, &line->saved_) != 0)
        return Why("cannot read the settings of " + path);
    line->restore_ = true;
    termios t = line->saved_;
    ConfigureDeviceLine(t);
    if (::tcsetattr(line->fd_, TCSANOW, &t) != 0)
        return Why("cannot set " + path + " to " + kModeString);
    (void)::tcflush(line->fd_, TCIOFLUSH);
    return line;
}

SerialLine::~SerialLine() {
    if (restore_) (void)::tcsetattr(fd_, TCSANOW, &saved_);
    if (fd_ >= 0) ::close(fd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
}

std::optional<bool> SerialLine::HostOpened() {
    if (!pty_ || !opens_.valid()) return std::nullopt;
    alignas(inotify_event) char events[4096];
    while (::read(opens_.get(), events, sizeof events) > 0)
        hostOpened_ = true;
    return hostOpened_;
}

bool SerialLine::SlaveOpen() const {
    // With no slave open anywhere a pseudo-terminal's master reports a hang-up.
    pollfd p{fd_, POLLOUT, 0};
    return ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

Written WriteToLine(int fd, std::span<const std::uint8_t> bytes, int stopFd,
                    const std::function<void(std::span<const std::uint8_t>)>& passed) {
    Written written;
    while (written.bytes < bytes.size()) {
        const std::span<const std::uint8_t> rest = bytes.subspan(written.bytes);
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n > 0) {
            if (passed) passed(rest.first(static_cast<std::size_t>(n)));
            written.bytes += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (!(n < 0 && errno == EAGAIN)) break;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(kLineStall.count()));
        if (ready < 0 && errno == EINTR) {
            // The signal's own byte may not have reached the stop descriptor yet: look again.
            continue;
        }
        if (stopFd >= 0 && fds[1].revents != 0) {
            written.stopped = true;
            break;
        }
        if (ready <= 0 || !(fds[0].revents & POLLOUT)) break;
    }
    return written;
}

Result<std::unique_ptr<SymbolicLink>> SymbolicLink::Create(const std::string& path,
                                                           const std::string& target) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Most likely left over from a run that was killed; anything else is not ours to remove.
        if (!S_ISLNK(st.st_mode))
            return Outcome::Failed(path, EEXIST, "exists and is not a symbolic link");
        if (::unlink(path.c_str()) != 0) return Why("cannot replace " + path);
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) return Why("cannot make the link " + path);
    std::unique_ptr<SymbolicLink> link(new SymbolicLink(path, target));
    for (std::size_t i = 0; i < gLinks.size(); ++i) {
        LinkSlot& slot = gLinks[i];
        if (slot.used || path.size() >= PATH_MAX || target.size() >= PATH_MAX) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        std::memcpy(slot.target, target.c_str(), target.size() + 1);
        slot.used = 1;
        link->slot_ = static_cast<int>(i);
        break;
    }
    return link;
}

SymbolicLink::~SymbolicLink() {
    if (slot_ >= 0) gLinks[static_cast<std::size_t>(slot_)].used = 0;
    char buffer[4096];
    const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer);
    if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target_) {
        ::unlink(path_.c_str());
    }
}

void RemoveLinksOnSecondSignal(std::initializer_list<int> which) {
    for (const int signal : which) {
        struct sigaction installed {};
        if (signal <= 0 || signal >= NSIG || ::sigaction(signal, nullptr, &installed) != 0 ||
            (installed.sa_flags & SA_SIGINFO)) {
            continue;
        }
        if (installed.sa_handler != SIG_DFL && installed.sa_handler != SIG_IGN)
            gFirstHandlers[static_cast<std::size_t>(signal)] = installed.sa_handler;
        struct sigaction action {};
        action.sa_handler = OnStopOrLastSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace norva::sim
