#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

// A forked child that is killed and reaped when this object goes, whatever an assertion did in
// between, and that dies with the test process should that crash; every wait on it ends by a
// deadline. So a failing test fails in seconds and leaves no process holding a port, a pty or
// ctest's output pipe.
//
// The child runs body with the write end of a report pipe, then exits 0; body may also _exit,
// exec, or tell its report and stay (pause) until it is killed.
class ChildProcess {
public:
    static constexpr int kTimeoutMs = 10000;

    explicit ChildProcess(const std::function<void(int reportFd)>& body) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);  // the test process is already gone
            ::close(fds[0]);
            ::fcntl(fds[1], F_SETFD, 0);  // kept across an exec
            body(fds[1]);
            ::_exit(0);
        }
        ::close(fds[1]);
        if (pid_ > 0)
            report_ = fds[0];
        else
            ::close(fds[0]);
    }
    ~ChildProcess() {
        Kill();
        if (report_ >= 0) ::close(report_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // In the child: writes the text to the report and closes it, so the test reads it whole.
    static void Tell(int reportFd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = ::write(reportFd, text.data(), text.size());
            if (n <= 0 && errno != EINTR) break;
            if (n > 0) text.remove_prefix(static_cast<std::size_t>(n));
        }
        ::close(reportFd);
    }

    // What the child reported, until it closed the report (or ended), wrote `end`, or the
    // deadline passed.
    std::string Report(int timeoutMs = kTimeoutMs, char end = '\0') {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (report_ >= 0 && (end == '\0' || out.find(end) == std::string::npos)) {
            pollfd p{report_, POLLIN, 0};
            const int ready = ::poll(&p, 1, LeftMs(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            char buffer[512];
            const ssize_t n = ::read(report_, buffer, end == '\0' ? sizeof buffer : 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ::close(report_);
                report_ = -1;
                break;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

    // Waits for the child to end by itself; one still running at the deadline is killed. The
    // wait status, -1 when there was no child.
    int Wait(int timeoutMs = kTimeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Running()) {
            const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) {
                reaped_ = true;
                break;
            }
            if (LeftMs(deadline) == 0) return Reap(SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_;
    }

    // Sends the signal and reaps the child (SIGKILL after the deadline); the wait status.
    int Kill(int signal = SIGKILL, int timeoutMs = kTimeoutMs) {
        if (Running()) ::kill(pid_, signal);
        return Wait(timeoutMs);
    }

    static bool ExitedWith(int status, int code) {
        return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
    }

private:
    using Clock = std::chrono::steady_clock;

    static int LeftMs(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    bool Running() const { return pid_ > 0 && !reaped_; }
    int Reap(int signal) {
        ::kill(pid_, signal);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return status_;
    }

    pid_t pid_ = -1;
    int report_ = -1;
    int status_ = -1;
    bool reaped_ = false;
};

// A program started through QProcess dies with the test process too, even one ended by a signal
// or a time-out, so none is left holding a port, or waiting for a device that went away and
// taking the next pseudo-terminal given its name.
inline void DiesWithTest(QProcess& process) {
    process.setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
    });
}

// Runs body in a forked child and returns the text it produced (or "<child failed>").
// With asNobody the child first drops to an unprivileged user, so that permission bits apply
// even when the suite runs as root.
inline std::string RunInChild(const std::function<std::string()>& body, bool asNobody) {
    ChildProcess child([&](int report) {
        if (asNobody && ::geteuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        }
        ChildProcess::Tell(report, body());
    });
    const std::string out = child.Report();
    return ChildProcess::ExitedWith(child.Wait(), 0) ? out : "<child failed>";
}
