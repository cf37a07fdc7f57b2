#include "serial/rival_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <vector>

#include "serial/open_reason.h"
#include "serial/port_exclusion.h"

namespace norva {

RivalWatch::RivalWatch(std::string devicePath)
    : path_(std::move(devicePath)), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    // The node itself, through any symbolic link: an open by any of its names is seen.
    if (fd_.valid()) (void)::inotify_add_watch(fd_.get(), path_.c_str(), IN_OPEN);
}

bool RivalWatch::TakeOpens() {
    if (!fd_.valid()) return false;
    bool opened = false;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(fd_.get(), events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->mask & IN_OPEN) opened = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return opened;
}

std::optional<std::string> RivalWatch::Look(bool lastLook) {
    const std::vector<DeviceHolder> holders = OtherHoldersOf(path_);
    std::vector<DeviceHolder> fresh;
    for (const DeviceHolder& holder : holders) {
        if (named_.insert(holder.pid).second) fresh.push_back(holder);
    }
    if (!fresh.empty()) return AlsoOpenedText(path_, fresh);
    if (lastLook && holders.empty() && ::geteuid() != 0) return AlsoOpenedText(path_, {});
    return std::nullopt;
}

}  // namespace norva
