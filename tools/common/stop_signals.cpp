#include "tools/common/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace norva::tools {

namespace {

int gStopWrite = -1;

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(gStopWrite, &byte, 1);
    errno = saved;
}

}  // namespace

int StopSignalDescriptor(std::initializer_list<int> which) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    gStopWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : which)
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return fds[0];
}

}  // namespace norva::tools
