#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace norva {

// Another process that has a device open.
struct DeviceHolder {
    pid_t pid = 0;
    std::string program;  // its command name, empty when it cannot be read
};

// Processes other than this one that have the device open, by a look through /proc/*/fd (all
// processes as root, the user's own otherwise). The device side of a pseudo-terminal, a
// process that also holds its master, is the device and not a rival.
std::vector<DeviceHolder> OtherHoldersOf(const std::string& devicePath);

// The UUCP lock file for a device: "LCK.." and the device's name below /dev, with any further
// slash turned into an underscore.
std::string LockFileName(const std::string& devicePath);

// Takes the UUCP lock for a device in /run/lock, else /var/lock. A lock whose process is gone is
// stale and taken over. Returns the lock file's path (empty when no lock folder is writable, in
// which case the other guards still hold), or sets holder to the live process that has it.
struct LockAttempt {
    std::string lockPath;
    bool heldByOther = false;
    DeviceHolder holder;
};
LockAttempt TakeUucpLock(const std::string& devicePath);
// Removes our lock file, only while it still names this process.
void DropUucpLock(const std::string& lockPath);

// Lock folders looked at, in order. Tests point them elsewhere.
std::vector<std::string>& UucpLockFolders();

}  // namespace norva
