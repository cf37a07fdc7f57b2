#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "base/result.h"

namespace norva {

// Another process that has a device open.
struct DeviceHolder {
    pid_t pid = 0;
    std::string program;  // its command name, empty when it cannot be read
};

// Whether a node is the device side of a pseudo-terminal (/dev/pts/N).
bool IsPtySlave(const struct stat& node);

// Processes other than this one that have the device open, by a look through /proc/*/fd (all
// processes as root, the user's own otherwise). A descriptor counts when it is the device
// itself: the same device number, and for a pseudo-terminal also the same node, since every
// container's /dev/pts/0 reads "/dev/pts/0" from here. A process that also holds the master of
// a pseudo-terminal is its device side and not a rival.
std::vector<DeviceHolder> OtherHoldersOf(const std::string& devicePath);

// The UUCP lock file for a device: "LCK.." and the device's name below /dev, with any further
// slash turned into an underscore.
std::string LockFileName(const std::string& devicePath);
// Every name a program may lock the device under: that one first, then the same for the path as
// given (a symbolic link such as /tmp/acceptor or a /dev/serial/by-id name) and the last part
// of either path alone, without repeats.
std::vector<std::string> LockFileNames(const std::string& devicePath);

// A lock file holds a process number in ten characters and a line end, or a binary int from old
// programs; anything longer is no lock and is never read further.
inline constexpr std::size_t kMaxLockFileBytes = 128;

// The UUCP locks taken for a device, and what was met under its names that was no lock file.
struct UucpLocks {
    std::vector<std::string> paths;
    // A FIFO, a symbolic link, a folder, a device under a lock name: no program that locks
    // writes one, so it neither keeps the device from us (any user may make one in the
    // world-writable lock folder) nor is removed (it is someone's, and may lead anywhere). It is
    // left alone and named here; the other guards still hold.
    std::string warning;
};

// Takes the UUCP lock for a device under each of its names, in the first of UucpLockFolders()
// that takes it. A live lock in any folder under the device's own name refuses the open, naming
// its process; under another name only when its process has this device open (two links in
// different folders may share a last part), else that name is left to it, as is a name that is
// another device's own. A lock whose process is gone, or that names none, is stale and taken
// over. A lock that names this process belongs to another handle here, which keeps it (its flock
// refuses this one). No lock folder writable is no failure: the other guards still hold.
Result<UucpLocks> TakeUucpLocks(const std::string& devicePath);
// Removes our lock files, each only while it still names this process.
void DropUucpLocks(const std::vector<std::string>& lockPaths);

// Lock folders looked at, in order. Tests point them elsewhere.
std::vector<std::string>& UucpLockFolders();

}  // namespace norva
