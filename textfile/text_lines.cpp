#include "textfile/text_lines.h"

#include "textfile/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace norva {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new file next to the target; created with 0666 so the process umask applies as for any
// new file.
int CreateSiblingTemp(const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = DirectoryOf(target) + "/." + BaseNameOf(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

std::string RewriteInPlace(const std::string& fileName, std::string_view content) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return CannotCreateText(fileName);
    bool ok = WriteAll(fd, content);
    ok = ::close(fd) == 0 && ok;
    return ok ? std::string() : std::string(kStreamWriteErrorText);
}

}  // namespace

LineSplitter::LineSplitter(std::size_t maxLines) : maxLines_(maxLines) {
    done_ = maxLines_ == 0;
}

bool LineSplitter::Feed(std::string_view chunk) {
    std::size_t i = 0;
    while (!done_ && i < chunk.size()) {
        if (afterCr_) {
            afterCr_ = false;
            if (chunk[i] == '\n') {
                ++i;
                continue;
            }
        }
        const char* start = chunk.data() + i;
        std::size_t run = 0;
        while (i + run < chunk.size()) {
            const char c = start[run];
            if (c == '\r' || c == '\n' || c == '\0') break;
            ++run;
        }
        if (run > 0) {
            inLine_ = true;
            const std::size_t room = kMaxLineBytes - current_.size();
            current_.append(start, run < room ? run : room);
            i += run;
            continue;
        }
        const char c = chunk[i++];
        if (c == '\0') {
            done_ = true;
            if (inLine_) EndLine();
            break;
        }
        afterCr_ = c == '\r';
        EndLine();
    }
    return !done_;
}

std::vector<std::string> LineSplitter::Finish() {
    if (!done_ && inLine_) EndLine();
    done_ = true;
    return std::move(lines_);
}

void LineSplitter::EndLine() {
    lines_.push_back(std::move(current_));
    current_.clear();
    inLine_ = false;
    if (lines_.size() >= maxLines_) done_ = true;
}

std::string CannotOpenText(const std::string& fileName) {
    return "Cannot open file " + fileName;
}

std::string CannotCreateText(const std::string& fileName) {
    return "Cannot create file " + fileName;
}

std::vector<std::string> SplitTextLines(std::string_view text, std::size_t maxLines) {
    LineSplitter splitter(maxLines);
    splitter.Feed(text);
    return splitter.Finish();
}

Result<TextLines> ReadTextLines(const std::string& fileName, std::size_t maxLines) {
    const Result<UniqueFd> fd = OpenRegularFile(fileName);
    if (!fd.ok()) return fd.outcome();
    LineSplitter splitter(maxLines);
    std::array<char, 64 * 1024> buffer{};
    bool wanted = true;
    while (wanted) {
        const ssize_t n = ::read(fd->get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Outcome::Failed(CannotOpenText(fileName), errno);
        if (n == 0) break;
        wanted = splitter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    return splitter.Finish();
}

namespace {
std::string ReplaceFile(const std::string& fileName, std::string_view content);
}  // namespace

Outcome WriteTextLines(const std::string& fileName, const std::vector<std::string>& lines,
                       std::string_view lineEnd) {
    std::string content;
    for (const auto& line : lines) {
        content += line;
        content += lineEnd;
    }
    return WriteFileSafely(fileName, content);
}

Outcome WriteFileSafely(const std::string& fileName, std::string_view content) {
    errno = 0;
    std::string failure = ReplaceFile(fileName, content);
    if (failure.empty()) return {};
    return Outcome::Failed(std::move(failure), errno);
}

namespace {

// The text for the error box, or empty; errno keeps the reason.
std::string ReplaceFile(const std::string& fileName, std::string_view content) {
    struct stat st {};
    const bool exists = ::stat(fileName.c_str(), &st) == 0;
    std::string target = fileName;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;  // callers keep the reason along with the text
            return CannotCreateText(fileName);
        }
        // A file read-only by its mode is refused even where the open below would succeed, as
        // it does for root.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            errno = EACCES;
            return CannotCreateText(fileName);
        }
        // Refuse before touching anything when the file itself may not be written.
        const int probe = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (probe < 0) return CannotCreateText(fileName);
        ::close(probe);
        if (!S_ISREG(st.st_mode)) return RewriteInPlace(fileName, content);
        // Replace what a symbolic link points at, not the link.
        char resolved[PATH_MAX];
        if (::realpath(fileName.c_str(), resolved) != nullptr) target = resolved;
    }

    std::string tempPath;
    const int fd = CreateSiblingTemp(target, tempPath);
    if (fd < 0) {
        // A folder that takes no new file: an existing writable file is rewritten in place.
        return exists ? RewriteInPlace(fileName, content) : CannotCreateText(fileName);
    }
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    if (ok && exists) {
        (void)::fchmod(fd, st.st_mode & 07777);
        (void)!::fchown(fd, st.st_uid, st.st_gid);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        errno = error;
        return std::string(kStreamWriteErrorText);
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        errno = error;
        return CannotCreateText(fileName);
    }
    return {};
}

}  // namespace

}  // namespace norva
