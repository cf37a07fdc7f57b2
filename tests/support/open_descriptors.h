#pragma once

// What a process holds open on a device, read from /proc.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The access mode (O_RDONLY, O_WRONLY, O_RDWR) of every descriptor of process `pid` open on the
// device `path` names (through any symbolic links), but descriptor `except`.
inline std::vector<int> AccessModesOn(pid_t pid, const std::string& path, int except = -1) {
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(path, error);
    std::vector<int> modes;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        const std::string fd = entry.path().filename();
        if (fd == std::to_string(except)) continue;
        if (std::filesystem::read_symlink(entry.path(), error) != device || error) continue;
        std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + fd);
        std::string key;
        int flags = -1;
        while (info >> key)
            if (key == "flags:") info >> std::oct >> flags;
        modes.push_back(flags & O_ACCMODE);
    }
    return modes;
}

}  // namespace
