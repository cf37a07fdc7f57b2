#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"
#include "textfile/regular_file.h"

namespace norva {

// Reads text one LF-ended line at a time, from a regular file through a buffer of its own or
// from text in memory, so input of any size is read holding at most one line. A line longer
// than the limit is refused where it stands rather than gathered. What a line holds (a CR, a
// zero byte) is the caller's to judge.
//
// Failures read "NAME:LINE" (or "line LINE" for nameless text), the reason apart: "longer than
// N bytes", or the OS's when a read fails. Opening fails as OpenRegularFile does.
class LineReader {
public:
    static Result<LineReader> Open(const std::string& path, std::size_t maxLineBytes,
                                   OpenFileOptions options = {});
    // The text must outlive the reader.
    static LineReader FromText(std::string_view text, std::string name, std::size_t maxLineBytes);

    // True with line() set to the next line, false at the end of the input.
    Result<bool> Next();
    // Without its LF; valid until the next call.
    std::string_view line() const { return {Data() + lineBegin_, lineLength_}; }
    // False for a last line that stopped without its LF.
    bool lineEnded() const { return lineEnded_; }
    // 1-based, of the line last given.
    std::size_t lineNumber() const { return lineNumber_; }
    const std::string& name() const { return name_; }
    // "NAME:LINE", the text of a failure at the line last given.
    std::string Where() const;

    // Back to the first line, to read the same input again.
    Outcome Rewind();

private:
    LineReader(std::string name, std::size_t maxLineBytes)
        : name_(std::move(name)), maxLineBytes_(maxLineBytes) {}
    Outcome Fill();
    const char* Data() const { return fd_.valid() ? buffer_.data() : text_.data(); }

    std::string name_;
    std::size_t maxLineBytes_;
    UniqueFd fd_;            // invalid for text in memory
    std::string buffer_;     // a file's bytes as read
    std::string_view text_;  // text in memory
    // Offsets into the data: what is read but not given out yet, and how much of that is known
    // to hold no LF.
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t scanned_ = 0;
    bool atEnd_ = false;
    std::size_t lineBegin_ = 0;
    std::size_t lineLength_ = 0;
    bool lineEnded_ = true;
    std::size_t lineNumber_ = 0;
};

}  // namespace norva
