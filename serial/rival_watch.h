#pragma once

#include <sys/types.h>

#include <optional>
#include <set>
#include <string>

#include "base/unique_fd.h"

namespace norva {

// Root cannot be kept out of a device: the exclusive-mode flag, flock and lock files stop only
// the polite. What can be done is to notice at once when another process opens the device while
// it is held, and say who, since bytes may then go to either side. One thread owns a watch.
class RivalWatch {
public:
    explicit RivalWatch(std::string devicePath);

    // Readable when something happened to the device node; -1 when inotify is not to be had.
    int fd() const { return fd_.get(); }

    // Takes what is pending; true when the device was opened since the last call.
    bool TakeOpens();

    // After an open: "PATH: also opened by socat (pid 4711); bytes may go to it" for processes
    // not named before, or nothing yet. The opener's descriptor may not be in /proc the moment
    // its open is reported, so a caller looks again a little later; at the last look, a user who
    // cannot see every process is told of "another program" rather than nothing.
    std::optional<std::string> Look(bool lastLook);

private:
    std::string path_;
    UniqueFd fd_;
    std::set<pid_t> named_;
};

}  // namespace norva
