#include "serial/port_exclusion.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

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

// The pts number a /dev/ptmx descriptor is the master of, from its fdinfo; -1 if none.
int MasterIndex(const std::string& fdinfoPath) {
    std::ifstream in(fdinfoPath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("tty-index:", 0) == 0) return std::atoi(line.c_str() + 10);
    }
    return -1;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

std::vector<DeviceHolder> OtherHoldersOf(const std::string& devicePath) {
    std::vector<DeviceHolder> holders;
    const std::string target = RealPath(devicePath);
    int ptsIndex = -1;
    if (target.rfind("/dev/pts/", 0) == 0) ptsIndex = std::atoi(target.c_str() + 9);
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
            const std::string link = ReadLink(fdFolder + "/" + fd->d_name);
            if (link == target) holds = true;
            if (ptsIndex >= 0 && link == "/dev/ptmx" &&
                MasterIndex("/proc/" + std::string(name) + "/fdinfo/" + fd->d_name) == ptsIndex)
                holdsMaster = true;
        }
        if (holds && !holdsMaster) holders.push_back({pid, ProgramName(pid)});
    }
    return holders;
}

std::string LockFileName(const std::string& devicePath) {
    std::string name = RealPath(devicePath);
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    else if (const auto slash = name.rfind('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

std::vector<std::string>& UucpLockFolders() {
    static std::vector<std::string> folders{"/run/lock", "/var/lock"};
    return folders;
}

namespace {

// The pid in a lock file: ten-character ASCII (or a binary int from old programs); 0 if none.
pid_t LockOwner(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() == sizeof(int) && (text[0] < ' ' || text[0] > '~')) {
        int binary = 0;
        std::copy(text.begin(), text.end(), reinterpret_cast<char*>(&binary));
        return binary;
    }
    return static_cast<pid_t>(std::atol(text.c_str()));
}

}  // namespace

LockAttempt TakeUucpLock(const std::string& devicePath) {
    LockAttempt attempt;
    const std::string name = LockFileName(devicePath);
    // A live lock in any folder counts; the first writable folder gets ours. One that names
    // this process belongs to another handle here, which keeps it (its flock refuses this one).
    for (const std::string& folder : UucpLockFolders()) {
        const std::string path = folder + "/" + name;
        const pid_t owner = LockOwner(path);
        if (owner == ::getpid()) return attempt;
        if (owner > 0 && ProcessAlive(owner)) {
            attempt.heldByOther = true;
            attempt.holder = {owner, ProgramName(owner)};
            return attempt;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    for (const std::string& folder : UucpLockFolders()) {
        const std::string path = folder + "/" + name;
        for (int round = 0; round < 2; ++round) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                const bool written = ::write(fd, text, 11) == 11;
                ::close(fd);
                if (written) {
                    attempt.lockPath = path;
                    return attempt;
                }
                ::unlink(path.c_str());
                break;
            }
            if (errno != EEXIST) break;
            // Stale: its process is gone (or the file names nobody); take it over once.
            const pid_t owner = LockOwner(path);
            if (owner > 0 && owner != ::getpid() && ProcessAlive(owner)) {
                attempt.heldByOther = true;
                attempt.holder = {owner, ProgramName(owner)};
                return attempt;
            }
            ::unlink(path.c_str());
        }
    }
    return attempt;
}

void DropUucpLock(const std::string& lockPath) {
    if (lockPath.empty()) return;
    if (LockOwner(lockPath) == ::getpid()) ::unlink(lockPath.c_str());
}

}  // namespace norva
