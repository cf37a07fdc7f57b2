#include "serial/port_exclusion.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>

#include "serial/open_reason.h"
#include "textfile/regular_file.h"

namespace norva {

namespace {

std::string ReadLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

std::string ProgramName(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The pts number a /dev/ptmx descriptor is the master of, from its fdinfo.
std::optional<unsigned> MasterIndex(const std::string& fdinfoPath) {
    std::ifstream in(fdinfoPath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("tty-index:", 0) != 0) continue;
        const auto first = line.find_first_not_of(" \t", 10);
        unsigned index = 0;
        if (first == std::string::npos) return std::nullopt;
        const char* end = line.data() + line.size();
        if (std::from_chars(line.data() + first, end, index).ec != std::errc()) return std::nullopt;
        return index;
    }
    return std::nullopt;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

constexpr unsigned kFirstPtySlaveMajor = 136, kLastPtySlaveMajor = 143;

// What a descriptor in /proc refers to, without asking the file system it lives on (a hung
// network or FUSE mount must not hang the look).
std::optional<struct stat> OpenFileOf(const std::string& fdPath) {
    struct statx x {};
    if (::statx(AT_FDCWD, fdPath.c_str(), AT_STATX_DONT_SYNC, STATX_TYPE | STATX_INO, &x) != 0)
        return std::nullopt;
    struct stat st {};
    st.st_mode = x.stx_mode;
    st.st_ino = x.stx_ino;
    st.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
    st.st_rdev = makedev(x.stx_rdev_major, x.stx_rdev_minor);
    return st;
}

}  // namespace

bool IsPtySlave(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= kFirstPtySlaveMajor &&
           major(st.st_rdev) <= kLastPtySlaveMajor;
}

std::vector<DeviceHolder> OtherHoldersOf(const std::string& devicePath) {
    std::vector<DeviceHolder> holders;
    struct stat node {};
    const bool isDevice = ::stat(devicePath.c_str(), &node) == 0 && S_ISCHR(node.st_mode);
    const std::string target = RealPath(devicePath);  // only for a path that is no device now
    const bool isPty = isDevice && IsPtySlave(node);
    const unsigned ptsIndex =
        isPty ? (major(node.st_rdev) - kFirstPtySlaveMajor) * 256 + minor(node.st_rdev) : 0;
    const auto isTheDevice = [&](const std::string& fdPath, const std::string& link) {
        if (!isDevice) return link == target;
        if (link.empty() || link.front() != '/') return false;  // a pipe, a socket...
        const std::optional<struct stat> open = OpenFileOf(fdPath);
        if (!open || !S_ISCHR(open->st_mode) || open->st_rdev != node.st_rdev) return false;
        return !isPty || (open->st_dev == node.st_dev && open->st_ino == node.st_ino);
    };
    const pid_t self = ::getpid();

    std::unique_ptr<DIR, DirCloser> proc(::opendir("/proc"));
    if (!proc) return holders;
    while (const dirent* entry = ::readdir(proc.get())) {
        pid_t pid = 0;
        const char* name = entry->d_name;
        const char* end = name + std::char_traits<char>::length(name);
        if (auto [p, ec] = std::from_chars(name, end, pid); ec != std::errc() || p != end) continue;
        if (pid == self) continue;
        const std::string fdFolder = "/proc/" + std::string(name) + "/fd";
        std::unique_ptr<DIR, DirCloser> fds(::opendir(fdFolder.c_str()));
        if (!fds) continue;  // another user's process, or gone meanwhile
        bool holds = false;
        bool holdsMaster = false;
        while (const dirent* fd = ::readdir(fds.get())) {
            if (fd->d_name[0] == '.') continue;
            const std::string fdPath = fdFolder + "/" + fd->d_name;
            const std::string link = ReadLink(fdPath);
            if (isPty && link.ends_with("/ptmx")) {
                if (MasterIndex("/proc/" + std::string(name) + "/fdinfo/" + fd->d_name) == ptsIndex)
                    holdsMaster = true;
                continue;
            }
            if (!holds && isTheDevice(fdPath, link)) holds = true;
        }
        if (holds && !holdsMaster) holders.push_back({pid, ProgramName(pid)});
    }
    return holders;
}

namespace {

std::string LastPart(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name below /dev with slashes as underscores, or the last part of a path elsewhere.
std::string NameBelowDev(const std::string& path) {
    if (path.rfind("/dev/", 0) != 0) return LastPart(path);
    std::string name = path.substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

}  // namespace

std::string LockFileName(const std::string& devicePath) {
    return "LCK.." + NameBelowDev(RealPath(devicePath));
}

std::vector<std::string> LockFileNames(const std::string& devicePath) {
    const std::string real = RealPath(devicePath);
    std::vector<std::string> names;
    for (const std::string& name :
         {NameBelowDev(real), NameBelowDev(devicePath), LastPart(real), LastPart(devicePath)}) {
        const std::string file = "LCK.." + name;
        if (!name.empty() && name != "." && name != ".." &&
            std::find(names.begin(), names.end(), file) == names.end())
            names.push_back(file);
    }
    return names;
}

std::vector<std::string>& UucpLockFolders() {
    static std::vector<std::string> folders{"/run/lock", "/var/lock"};
    return folders;
}

namespace {

// What a name in a lock folder holds.
struct LockLook {
    enum class Kind { Free, Ours, Live, Stale, NotALock } kind = Kind::Free;
    DeviceHolder holder;
    std::string what;  // for NotALock: "a FIFO", "a symbolic link"...
};

// The pid in a lock file's text: ten ASCII digits (blanks around allowed), or a binary int.
pid_t LockedPid(const std::string& text) {
    if (text.size() == sizeof(int) && (text[0] < ' ' || text[0] > '~')) {
        int binary = 0;
        std::copy(text.begin(), text.end(), reinterpret_cast<char*>(&binary));
        return binary;
    }
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return 0;
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(text.data() + first, text.data() + text.size(), pid);
    if (ec != std::errc() || (end != text.data() + text.size() && *end != '\n' && *end != ' '))
        return 0;
    return pid;
}

// Looked at without following a link and without opening anything but a regular file, of
// which no more than a lock can hold is read: a FIFO would hang the read, a link to /dev/zero
// would never end it.
LockLook LookAtLock(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (!S_ISREG(st.st_mode)) return {LockLook::Kind::NotALock, {}, FileKindText(st.st_mode)};
    const Result<std::string> text =
        ReadRegularFile(path, {.followLinks = false, .maxBytes = kMaxLockFileBytes});
    const pid_t owner = text.ok() ? LockedPid(text.value()) : 0;
    if (owner == ::getpid()) return {LockLook::Kind::Ours, {}, {}};
    if (owner > 0 && ProcessAlive(owner))
        return {LockLook::Kind::Live, {owner, ProgramName(owner)}, {}};
    // Its process is gone, or it names none (too long, unreadable, no number).
    return {LockLook::Kind::Stale, {}, {}};
}

// The lock folders, each once: /var/lock is often a link to /run/lock.
std::vector<std::string> DistinctLockFolders() {
    std::vector<std::string> folders;
    std::vector<std::string> seen;
    for (const std::string& folder : UucpLockFolders()) {
        const std::string real = RealPath(folder);
        if (std::find(seen.begin(), seen.end(), real) != seen.end()) continue;
        seen.push_back(real);
        folders.push_back(folder);
    }
    return folders;
}

// Whether a lock name is that of another device present here ("LCK..ttyUSB0" for a link called
// ttyUSB0 in a folder of its own): then it is that device's, and not ours to take.
bool NamesAnotherDevice(const std::string& lockName, const struct stat& node) {
    std::string name = lockName.substr(5);
    std::string below = name;
    std::replace(below.begin(), below.end(), '_', '/');
    for (const std::string& candidate : {"/dev/" + name, "/dev/" + below}) {
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev != node.st_rdev)
            return true;
    }
    return false;
}

bool HoldsDevice(pid_t pid, const std::string& devicePath) {
    const std::vector<DeviceHolder> holders = OtherHoldersOf(devicePath);
    return std::any_of(holders.begin(), holders.end(),
                       [pid](const DeviceHolder& h) { return h.pid == pid; });
}

std::string NotALockText(const std::string& path, const std::string& what) {
    return path + ": " + what + ", not a lock file; ignored and left in place";
}

}  // namespace

Result<UucpLocks> TakeUucpLocks(const std::string& devicePath) {
    // A path that leads to no device here names no lock: the open fails next, with its reason.
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0) return UucpLocks{};
    std::vector<std::string> names = LockFileNames(devicePath);
    names.erase(
        std::remove_if(names.begin() + 1, names.end(),
                       [&](const std::string& name) { return NamesAnotherDevice(name, node); }),
        names.end());
    const std::vector<std::string> folders = DistinctLockFolders();
    UucpLocks locks;
    const auto warn = [&](const std::string& path, const std::string& what) {
        if (!locks.warning.empty()) locks.warning += "; ";
        locks.warning += NotALockText(path, what);
    };
    // A live lock under the device's own name refuses it. Under another name (the last part of
    // a link's path, which two links in different folders may share) it does only when its
    // process has this very device open; else that name is left to it.
    const auto refuses = [&](const std::string& name, const LockLook& look) {
        return look.kind == LockLook::Kind::Live &&
               (name == names.front() || HoldsDevice(look.holder.pid, devicePath));
    };
    const auto busy = [&](const DeviceHolder& holder) {
        DropUucpLocks(locks.paths);
        return Result<UucpLocks>::Failed(BusyText(devicePath, {holder}), EBUSY);
    };
    // A live lock anywhere counts before any of ours is made.
    std::vector<std::string> toTake;
    for (const std::string& name : names) {
        bool taken = false;
        for (const std::string& folder : folders) {
            const LockLook look = LookAtLock(folder + "/" + name);
            if (refuses(name, look)) return busy(look.holder);
            if (look.kind == LockLook::Kind::Ours || look.kind == LockLook::Kind::Live)
                taken = true;
        }
        if (!taken) toTake.push_back(name);
    }

    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    for (const std::string& name : toTake) {
        bool done = false;
        for (std::size_t f = 0; f < folders.size() && !done; ++f) {
            const std::string path = folders[f] + "/" + name;
            for (int round = 0; round < 2; ++round) {
                const int fd = ::open(path.c_str(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
                if (fd >= 0) {
                    const bool written = ::write(fd, text, 11) == 11;
                    ::close(fd);
                    if (written) {
                        locks.paths.push_back(path);
                        done = true;
                    } else {
                        ::unlink(path.c_str());
                    }
                    break;
                }
                if (errno != EEXIST) break;  // a folder that takes no file of ours
                const LockLook look = LookAtLock(path);
                if (refuses(name, look)) return busy(look.holder);
                if (look.kind == LockLook::Kind::Ours || look.kind == LockLook::Kind::Live) {
                    done = true;
                    break;
                }
                if (look.kind == LockLook::Kind::NotALock) {
                    warn(path, look.what);
                    break;
                }
                ::unlink(path.c_str());  // stale: taken over once
            }
        }
    }
    return locks;
}

void DropUucpLocks(const std::vector<std::string>& lockPaths) {
    for (const std::string& path : lockPaths) {
        if (LookAtLock(path).kind == LockLook::Kind::Ours) ::unlink(path.c_str());
    }
}

}  // namespace norva
