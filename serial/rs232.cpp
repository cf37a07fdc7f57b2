#include "serial/rs232.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace norva {

std::atomic<int> RS232::liveCount_{0};
std::atomic<int> RS232::startedCount_{0};

RS232::RS232(PortHandle& port, ReceiveFunction receiveBlock, LostFunction portLost)
    : port_(port), receiveBlock_(std::move(receiveBlock)), portLost_(std::move(portLost)) {
    stopEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ++liveCount_;
    ++startedCount_;
    thread_ = std::thread([this] { Run(); });
}

RS232::~RS232() {
    RequestStop();
    if (thread_.joinable()) thread_.join();
    if (stopEvent_ >= 0) ::close(stopEvent_);
    --liveCount_;
}

void RS232::RequestStop() {
    stopRequested_ = true;
    if (stopEvent_ >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(stopEvent_, &one, sizeof one);
    }
}

void RS232::Run() {
    // Without an event descriptor the stop flag is looked at a few times a second instead.
    const int stopWaitMs = stopEvent_ >= 0 ? -1 : 100;
    bool backingOff = false;
    const ReceivePass pass{port_, stopRequested_, stopEvent_};
    while (!stopRequested_) {
        const int fd = port_.fd();
        pollfd fds[2] = {{stopEvent_, POLLIN, 0}, {fd, POLLIN, 0}};
        const bool watchPort = fd >= 0 && !backingOff;
        const int ready = ::poll(fds, watchPort ? 2 : 1, watchPort ? stopWaitMs : kRetryMs);
        if (stopRequested_) break;
        if (ready < 0) {
            if (errno != EINTR) backingOff = true;
            continue;
        }
        if (!watchPort) {
            backingOff = false;
            continue;
        }
        if (fds[1].revents == 0) continue;
        if (InputQueueCount(&port_) > 0) {
            // Bytes that came before a hang-up are read first.
            receiveBlock_(pass);
        } else if (portLost_ && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            portLost_(pass);
        } else {
            // Ready with nothing queued: the device hung up or failed. Poll would say so at
            // once forever, so wait on the stop request alone for a while.
            backingOff = true;
        }
    }
}

}  // namespace norva
