#include "tools/acceptor-sim/serial_line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/line_mode.h"

namespace norva::sim {

namespace {

Outcome Why(const std::string& what) {
    const int error = errno;
    return Outcome::Failed(what + ": " + std::strerror(error), error);
}

void MakeRaw(termios& t) {
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | HUPCL);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

}  // namespace

void ConfigureDeviceLine(termios& settings) {
    MakeRaw(settings);
    if (const auto mode = ParseModeString("9600,E,8,1")) ApplyLineMode(*mode, settings);
}

Made<SerialLine> SerialLine::CreatePty() {
    std::unique_ptr<SerialLine> line(new SerialLine);
    line->fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line->fd_ < 0) {
        return {nullptr, Why("cannot make a pseudo-terminal")};
    }
    char name[128] = {};
    if (::grantpt(line->fd_) != 0 || ::unlockpt(line->fd_) != 0 ||
        ::ptsname_r(line->fd_, name, sizeof name) != 0) {
        return {nullptr, Why("cannot unlock the pseudo-terminal")};
    }
    line->path_ = name;
    line->slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (line->slaveFd_ < 0 || ::tcgetattr(line->slaveFd_, &t) != 0) {
        return {nullptr, Why("cannot open " + line->path_)};
    }
    ConfigureDeviceLine(t);
    if (::tcsetattr(line->slaveFd_, TCSANOW, &t) != 0 ||
        ::fcntl(line->fd_, F_SETFL, ::fcntl(line->fd_, F_GETFL) | O_NONBLOCK) != 0) {
        return {nullptr, Why("cannot set up " + line->path_)};
    }
    return {std::move(line), {}};
}

Made<SerialLine> SerialLine::OpenDevice(const std::string& path) {
    std::unique_ptr<SerialLine> line(new SerialLine);
    line->path_ = path;
    line->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0) {
        return {nullptr, Why("cannot open " + path)};
    }
    if (!::isatty(line->fd_)) {
        return {nullptr, Outcome::Failed(path + ": not a serial device (not a terminal)", ENOTTY)};
    }
    // The bench tool locks the port it opens; taking the same lock keeps two programs apart.
    if (::flock(line->fd_, LOCK_EX | LOCK_NB) != 0) {
        return {nullptr, Why(path + " is in use")};
    }
    if (::tcgetattr(line->fd_, &line->saved_) != 0) {
        return {nullptr, Why("cannot read the settings of " + path)};
    }
    line->restore_ = true;
    termios t = line->saved_;
    ConfigureDeviceLine(t);
    if (::tcsetattr(line->fd_, TCSANOW, &t) != 0) {
        return {nullptr, Why("cannot set " + path + " to 9600,E,8,1")};
    }
    (void)::tcflush(line->fd_, TCIOFLUSH);
    return {std::move(line), {}};
}

SerialLine::~SerialLine() {
    if (restore_) (void)::tcsetattr(fd_, TCSANOW, &saved_);
    if (fd_ >= 0) ::close(fd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
}

Made<SymbolicLink> SymbolicLink::Create(const std::string& path, const std::string& target) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Most likely left over from a run that was killed; anything else is not ours to remove.
        if (!S_ISLNK(st.st_mode)) {
            return {nullptr, Outcome::Failed(path + ": exists and is not a symbolic link", EEXIST)};
        }
        if (::unlink(path.c_str()) != 0) {
            return {nullptr, Why("cannot replace " + path)};
        }
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        return {nullptr, Why("cannot make the link " + path)};
    }
    return {std::unique_ptr<SymbolicLink>(new SymbolicLink(path, target)), {}};
}

SymbolicLink::~SymbolicLink() {
    char buffer[4096];
    const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer);
    if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target_) {
        ::unlink(path_.c_str());
    }
}

}  // namespace norva::sim
