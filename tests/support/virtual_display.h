#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>

#include <string>

// A private X server (Xvfb) on the first free display number, for running the real program in
// a real window. The server reports its display number itself once it accepts clients, so no
// number is guessed and nothing waits on a clock.
class VirtualDisplay {
public:
    VirtualDisplay() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) return;
        int fds[2];
        if (::pipe(fds) != 0) return;
        const std::string program = xvfb.toStdString();
        const std::string fd = std::to_string(fds[1]);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const int devNull = ::open("/dev/null", O_RDWR);
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
            ::execl(program.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
                    "1024x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            return;
        }
        std::string number;
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) break;
            char c = 0;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) name_ = QStringLiteral(":") + QString::fromStdString(number);
    }

    ~VirtualDisplay() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    static bool Available() {
        return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty();
    }
    bool ok() const { return !name_.isEmpty(); }
    // ":N", for DISPLAY.
    const QString& name() const { return name_; }

private:
    pid_t pid_ = -1;
    QString name_;
};
