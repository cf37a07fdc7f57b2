#include "textfile/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>

#include "textfile/text_lines.h"

namespace norva {

namespace {

Outcome Refused(const std::string& path, int osError, std::string reason = {}) {
    return Outcome::Failed(CannotOpenText(path), osError, std::move(reason));
}

std::string TooLargeText(std::size_t maxBytes) {
    return "larger than " + std::to_string(maxBytes) + " bytes";
}

}  // namespace

std::string FileKindText(unsigned mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "a regular file";
        case S_IFDIR:
            return "a folder";
        case S_IFIFO:
            return "a FIFO";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFSOCK:
            return "a socket";
        case S_IFLNK:
            return "a symbolic link";
        default:
            return "not a regular file";
    }
}

Result<UniqueFd> OpenRegularFile(const std::string& path, OpenFileOptions options) {
    // Look first: opening is what must not happen to a FIFO or a device.
    struct stat st {};
    const int looked = options.followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (looked != 0) return Refused(path, errno);
    if (!S_ISREG(st.st_mode)) return Refused(path, 0, FileKindText(st.st_mode));
    if (options.maxBytes != 0 && static_cast<std::size_t>(st.st_size) > options.maxBytes)
        return Refused(path, 0, TooLargeText(options.maxBytes));
    // Non-blocking and without following links where asked, in case the name was swapped for
    // something else since the look.
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (options.followLinks ? 0 : O_NOFOLLOW);
    UniqueFd fd(::open(path.c_str(), flags));
    if (!fd.valid()) return Refused(path, errno);
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) return Refused(path, errno);
    if (!S_ISREG(opened.st_mode)) return Refused(path, 0, FileKindText(opened.st_mode));
    (void)::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Result<std::string> ReadRegularFile(const std::string& path, OpenFileOptions options) {
    Result<UniqueFd> opened = OpenRegularFile(path, options);
    if (!opened.ok()) return opened.outcome();
    std::string content;
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t n = ::read(opened->get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Refused(path, errno);
        if (n == 0) return content;
        if (options.maxBytes != 0 &&
            content.size() + static_cast<std::size_t>(n) > options.maxBytes)
            return Refused(path, 0, TooLargeText(options.maxBytes));
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace norva
