#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// Runs body in a forked child and returns the text it produced (or "<child failed>").
// With asNobody the child first drops to an unprivileged user, so that permission bits apply
// even when the suite runs as root.
inline std::string RunInChild(const std::function<std::string()>& body, bool asNobody) {
    int fds[2];
    if (::pipe(fds) != 0) return "<pipe failed>";
    const pid_t pid = ::fork();
    if (pid < 0) return "<fork failed>";
    if (pid == 0) {
        ::close(fds[0]);
        if (asNobody && ::geteuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        }
        const std::string out = body();
        ssize_t written = 0;
        while (written < static_cast<ssize_t>(out.size())) {
            const ssize_t n = ::write(fds[1], out.data() + written, out.size() - written);
            if (n <= 0) break;
            written += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<child failed>";
    return out;
}
