#include "textfile/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norva {

namespace {

// One read's worth; a file is read in pieces of this size whatever its lines are like.
constexpr std::size_t kReadBytes = 64 * 1024;

}  // namespace

Result<LineReader> LineReader::Open(const std::string& path, std::size_t maxLineBytes,
                                    OpenFileOptions options) {
    Result<UniqueFd> opened = OpenRegularFile(path, options);
    if (!opened.ok()) return opened.outcome();
    LineReader reader(path, maxLineBytes);
    reader.fd_ = std::move(opened).value();
    return reader;
}

LineReader LineReader::FromText(std::string_view text, std::string name, std::size_t maxLineBytes) {
    LineReader reader(std::move(name), maxLineBytes);
    reader.text_ = text;
    reader.end_ = text.size();
    reader.atEnd_ = true;
    return reader;
}

std::string LineReader::Where() const {
    const std::string number = std::to_string(lineNumber_);
    return name_.empty() ? "line " + number : name_ + ":" + number;
}

Result<bool> LineReader::Next() {
    for (;;) {
        const char* data = Data();
        // Never look further than a line may reach.
        const std::size_t window = std::min(end_ - begin_, maxLineBytes_ + 1);
        const void* lf = window > scanned_
                             ? std::memchr(data + begin_ + scanned_, '\n', window - scanned_)
                             : nullptr;
        if (lf != nullptr) {
            ++lineNumber_;
            lineBegin_ = begin_;
            lineLength_ = static_cast<std::size_t>(static_cast<const char*>(lf) - data) - begin_;
            lineEnded_ = true;
            begin_ += lineLength_ + 1;
            scanned_ = 0;
            return true;
        }
        scanned_ = window;
        if (scanned_ > maxLineBytes_) break;
        if (atEnd_) {
            if (begin_ == end_) return false;
            ++lineNumber_;
            lineBegin_ = begin_;
            lineLength_ = end_ - begin_;
            lineEnded_ = false;
            begin_ = end_;
            scanned_ = 0;
            return true;
        }
        if (Outcome filled = Fill(); !filled.ok()) return filled;
    }
    // Nothing more is read: what follows is of no use without the line's end.
    ++lineNumber_;
    atEnd_ = true;
    begin_ = end_;
    lineLength_ = 0;
    return Result<bool>::Failed(Where(), 0,
                                "longer than " + std::to_string(maxLineBytes_) + " bytes");
}

Outcome LineReader::Fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        lineBegin_ = 0;
        lineLength_ = 0;
        begin_ = 0;
    }
    if (buffer_.size() - end_ < kReadBytes) buffer_.resize(end_ + kReadBytes);
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer_.data() + end_, buffer_.size() - end_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            atEnd_ = true;
            return Outcome::Failed(name_ + ":" + std::to_string(lineNumber_ + 1), error);
        }
        if (n == 0) atEnd_ = true;
        end_ += static_cast<std::size_t>(n);
        return {};
    }
}

Outcome LineReader::Rewind() {
    if (fd_.valid()) {
        if (::lseek(fd_.get(), 0, SEEK_SET) != 0) return Outcome::Failed(name_, errno);
        end_ = 0;
        atEnd_ = false;
    } else {
        end_ = text_.size();
    }
    begin_ = scanned_ = lineBegin_ = lineLength_ = lineNumber_ = 0;
    lineEnded_ = true;
    return {};
}

}  // namespace norva
