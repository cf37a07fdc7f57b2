#include "capture/capture_file_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "capture/capture_format.h"
#include "textfile/text_lines.h"

namespace norva {

namespace {

constexpr auto kFlushEvery = std::chrono::seconds(1);
// A flood writes out in pieces of this size between flushes.
constexpr std::size_t kWriteOutBytes = 64 * 1024;

}  // namespace

CaptureFileRecorder::CaptureFileRecorder(std::string fileName, const PortIdentity* currentPort)
    : fileName_(std::move(fileName)), lastFlush_(Clock::now()) {
    fd_ = ::open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) {
        Fail(CannotCreateText(fileName_), errno);
        return;
    }
    pending_ = kCaptureHeader;
    pending_ += '\n';
    if (currentPort) AppendPortLine(pending_, *currentPort);
    Flush();
}

CaptureFileRecorder::~CaptureFileRecorder() {
    Stop();
}

void CaptureFileRecorder::PortOpened(std::int64_t, const PortIdentity& port) {
    if (fd_ < 0) return;
    AppendPortLine(pending_, port);
    AfterEvent();
}

void CaptureFileRecorder::Received(std::int64_t firstByteUnixMicros,
                                   std::span<const std::uint8_t> block) {
    if (fd_ < 0 || block.empty()) return;
    AppendReceivedLine(pending_, firstByteUnixMicros, block);
    AfterEvent();
}

void CaptureFileRecorder::Sent(std::int64_t unixMicros, std::uint8_t byte) {
    if (fd_ < 0) return;
    AppendSentLine(pending_, unixMicros, byte);
    AfterEvent();
}

void CaptureFileRecorder::Comment(std::string_view text) {
    if (fd_ < 0) return;
    AppendCommentLine(pending_, text);
    AfterEvent();
}

void CaptureFileRecorder::AfterEvent() {
    if (Clock::now() - lastFlush_ >= kFlushEvery)
        Flush();
    else if (pending_.size() >= kWriteOutBytes)
        WriteOut();
}

bool CaptureFileRecorder::WriteOut() {
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(std::string(kStreamWriteErrorText), n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
        unsynced_ = true;
    }
    pending_.clear();
    return true;
}

void CaptureFileRecorder::Flush() {
    lastFlush_ = Clock::now();
    if (fd_ < 0 || !WriteOut() || !unsynced_) return;
    // Devices and pipes take no sync; their bytes are already out of our hands.
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        Fail(std::string(kStreamWriteErrorText), errno);
        return;
    }
    unsynced_ = false;
}

std::string CaptureFileRecorder::Stop() {
    if (fd_ >= 0) {
        Flush();
        if (fd_ >= 0) {
            if (::close(fd_) != 0 && !failed()) Fail(std::string(kStreamWriteErrorText), errno);
            fd_ = -1;
        }
    }
    pending_.clear();
    return error_;
}

void CaptureFileRecorder::Fail(std::string error, int errnoValue) {
    error_ = std::move(error);
    reason_ = std::strerror(errnoValue);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

}  // namespace norva
