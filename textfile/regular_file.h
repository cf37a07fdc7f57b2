#pragma once

#include <cstddef>
#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

namespace norva {

// Every file the programs read is a regular file. A FIFO would hang the open or the read, a
// device opened has effects of its own (a serial line raises its modem lines), a folder or a
// socket is no file: each is refused without being opened, named, with what it is. Failures read
// CannotOpenText(path) with the reason apart (Outcome::reason()).

struct OpenFileOptions {
    // A lock file in a world-writable folder must not lead elsewhere; settings files may.
    bool followLinks = true;
    // Larger files are refused; 0 for no limit.
    std::size_t maxBytes = 0;
};

// Opened for reading, blocking reads, close-on-exec.
Result<UniqueFd> OpenRegularFile(const std::string& path, OpenFileOptions options = {});

// The whole file, at most options.maxBytes of it (a file that grows past the limit while it is
// read is refused as well).
Result<std::string> ReadRegularFile(const std::string& path, OpenFileOptions options = {});

// What a file that is not regular is, in words: "a FIFO", "a folder", "a character device"...
std::string FileKindText(unsigned mode);

}  // namespace norva
