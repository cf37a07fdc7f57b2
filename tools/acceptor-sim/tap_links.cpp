#include "tools/acceptor-sim/tap_links.h"

#include <unistd.h>

#include <cerrno>

namespace norva::sim {

Result<TapLinks::Tap> TapLinks::MakeTap(const std::string& link) {
    Result<std::unique_ptr<SerialLine>> pty = SerialLine::CreatePty(SerialLine::Slave::Released);
    if (!pty.ok()) return pty.outcome();
    Result<std::unique_ptr<SymbolicLink>> made = SymbolicLink::Create(link, pty.value()->path());
    if (!made.ok()) return made.outcome();
    Tap tap;
    tap.link = link;
    tap.pty = std::move(pty).value();
    tap.made = std::move(made).value();
    return tap;
}

Result<std::unique_ptr<TapLinks>> TapLinks::Create(const std::string& hostLink,
                                                   const std::string& deviceLink) {
    std::unique_ptr<TapLinks> taps(new TapLinks);
    Result<Tap> host = MakeTap(hostLink);
    if (!host.ok()) return host.outcome();
    taps->host_ = std::move(host).value();
    Result<Tap> device = MakeTap(deviceLink);
    if (!device.ok()) return device.outcome();
    taps->device_ = std::move(device).value();
    return taps;
}

std::string TapLinks::Describe() const {
    return "tap links: the host's bytes on " + host_.link + " (" + host_.pty->path() +
           "), the device's on " + device_.link + " (" + device_.pty->path() + ")";
}

void TapLinks::Copy(Tap& tap, std::span<const std::uint8_t> bytes, const Console& console) {
    if (bytes.empty() || !tap.pty->SlaveOpen()) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(tap.pty->fd(), bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (!(n < 0 && errno == EINTR))
            break;
    }
    const std::size_t lost = bytes.size() - done;
    if (lost > 0) {
        if (tap.droppedLately == 0) {
            console.Tell(
                "!!", "tap " + tap.link + ": its reader is not keeping up; bytes dropped, counted");
        }
        tap.droppedLately += lost;
        tap.dropped += lost;
    } else if (tap.droppedLately > 0) {
        console.Tell("--", "tap " + tap.link + ": copying again after " +
                               std::to_string(tap.droppedLately) + " bytes dropped");
        tap.droppedLately = 0;
    }
}

void TapLinks::Report(const Console& console) const {
    for (const Tap* tap : {&host_, &device_}) {
        if (tap->dropped > 0) {
            console.Tell("!!", "tap " + tap->link + ": " + std::to_string(tap->dropped) +
                                   " bytes dropped in all: its reader did not keep up");
        }
    }
}

}  // namespace norva::sim
