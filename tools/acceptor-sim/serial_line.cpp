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

std::string Why(const std::string& what) {
    return what + ": " + std::strerror(errno);
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

std::unique_ptr<SerialLine> SerialLine::CreatePty(std::string& error) {
    std::unique_ptr<SerialLine> line(new SerialLine);
    line->fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line->fd_ < 0) {
        error = Why("cannot make a pseudo-terminal");
        return nullptr;
    }
    char name[128] = {};
    if (::grantpt(line->fd_) != 0 || ::unlockpt(line->fd_) != 0 ||
        ::ptsname_r(line->fd_, name, sizeof name) != 0) {
        error = Why("cannot unlock the pseudo-terminal");
        return nullptr;
    }
    line->path_ = name;
    line->slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (line->slaveFd_ < 0 || ::tcgetattr(line->slaveFd_, &t) != 0) {
        error = Why("cannot open " + line->path_);
        return nullptr;
    }
    ConfigureDeviceLine(t);
    if (::tcsetattr(line->slaveFd_, TCSANOW, &t) != 0 ||
        ::fcntl(line->fd_, F_SETFL, ::fcntl(line->fd_, F_GETFL) | O_NONBLOCK) != 0) {
        error = Why("cannot set up " + line->path_);
        return nullptr;
    }
    return line;
}

std::unique_ptr<SerialLine> SerialLine::OpenDevice(const std::string& path, std::string& error) {
    std::unique_ptr<SerialLine> line(new SerialLine);
    line->path_ = path;
    line->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0) {
        error = Why("cannot open " + path);
        return nullptr;
    }
    if (!::isatty(line->fd_)) {
        error = path + ": not a serial device (not a terminal)";
        return nullptr;
    }
    // The bench tool locks the port it opens; taking the same lock keeps two programs apart.
    if (::flock(line->fd_, LOCK_EX | LOCK_NB) != 0) {
        error = Why(path + " is in use");
        return nullptr;
    }
    if (::tcgetattr(line->fd_, &line->saved_) != 0) {
        error = Why("cannot read the settings of " + path);
        return nullptr;
    }
    line->restore_ = true;
    termios t = line->saved_;
    ConfigureDeviceLine(t);
    if (::tcsetattr(line->fd_, TCSANOW, &t) != 0) {
        error = Why("cannot set " + path + " to 9600,E,8,1");
        return nullptr;
    }
    (void)::tcflush(line->fd_, TCIOFLUSH);
    return line;
}

SerialLine::~SerialLine() {
    if (restore_) (void)::tcsetattr(fd_, TCSANOW, &saved_);
    if (fd_ >= 0) ::close(fd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
}

std::unique_ptr<SymbolicLink> SymbolicLink::Create(const std::string& path,
                                                   const std::string& target, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Most likely left over from a run that was killed; anything else is not ours to remove.
        if (!S_ISLNK(st.st_mode)) {
            error = path + ": exists and is not a symbolic link";
            return nullptr;
        }
        if (::unlink(path.c_str()) != 0) {
            error = Why("cannot replace " + path);
            return nullptr;
        }
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        error = Why("cannot make the link " + path);
        return nullptr;
    }
    return std::unique_ptr<SymbolicLink>(new SymbolicLink(path, target));
}

SymbolicLink::~SymbolicLink() {
    char buffer[4096];
    const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer);
    if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target_) {
        ::unlink(path_.c_str());
    }
}

}  // namespace norva::sim
