#include "tools/norva-cli/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "tools/norva-cli/cli_options.h"

namespace norva::cli {

namespace {

// What standard output may hold that its reader has not taken yet; lines beyond it are dropped.
constexpr std::size_t kOutputBufferBytes = 1 << 20;
constexpr std::size_t kErrorBufferBytes = 64 << 10;
// At the end, how long standard output may take nothing before the summary goes to standard
// error instead.
constexpr std::chrono::seconds kSummaryPatience{2};

}  // namespace

std::array<bool, 3> TakeStandardDescriptors() {
    std::array<bool, 3> closed{};
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed[static_cast<std::size_t>(fd)] = true;
        // The lowest free number is this one.
        if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) break;
    }
    return closed;
}

Streams::Streams(bool outputClosed)
    : err_(STDERR_FILENO, "standard error", kErrorBufferBytes),
      out_(STDOUT_FILENO, "standard output", kOutputBufferBytes,
           [this](const Outcome& failure) { Lost(failure); }) {
    if (!outputClosed) return;
    const Outcome closed = Outcome::Failed("standard output", 0, "closed");
    out_.MarkFailed(closed);
    Lost(closed);
}

int Streams::End(int status, const std::string& last) {
    out_.WriteAlways(last);
    const bool delivered = out_.Finish(kSummaryPatience);
    if (!delivered) {
        if (out_.failure().ok())
            Notice("norva-cli: standard output took nothing for 2 s; the summary follows\n");
        err_.WriteAlways(last);
    }
    (void)err_.Finish(kSummaryPatience);
    return !delivered && status == kExitStopped ? kExitOutputLost : status;
}

void Streams::Lost(const Outcome& failure) {
    Notice("norva-cli: " + failure.Describe() +
           "; the log lines go no further, the summary comes here\n");
}

}  // namespace norva::cli
