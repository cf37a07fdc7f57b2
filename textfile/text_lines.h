#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace norva {

// The small settings files are lists of 8-bit text lines. Reading ends a line at CR LF, a lone CR
// or a lone LF; a zero byte ends the text; a last line without a line end still counts, and a line
// end at the very end starts no further line.
using TextLines = std::vector<std::string>;

// Longest line kept in memory; the rest of a longer line is skipped, so a hostile file cannot
// exhaust memory.
inline constexpr std::size_t kMaxLineBytes = 1 << 20;

// Splits text handed over in pieces of any size, so a reader can stop as soon as enough lines
// are complete.
class LineSplitter {
public:
    explicit LineSplitter(std::size_t maxLines);
    // Returns false once no more input is wanted.
    bool Feed(std::string_view chunk);
    // The lines, once the input has ended.
    std::vector<std::string> Finish();

private:
    void EndLine();

    std::size_t maxLines_;
    std::vector<std::string> lines_;
    std::string current_;
    bool inLine_ = false;
    bool afterCr_ = false;
    bool done_ = false;
};

// Reads at most maxLines lines of a regular file; reading stops as soon as they are complete.
// A failure reads CannotOpenText(fileName), the reason apart.
Result<TextLines> ReadTextLines(const std::string& fileName, std::size_t maxLines);

// Splits an in-memory text by the same rules; used by the reader and handy for fuzzing.
std::vector<std::string> SplitTextLines(std::string_view text, std::size_t maxLines);

// Writes every line followed by lineEnd; a failure carries the error box's text. The old file
// survives a failed write: the bytes go to a temporary file in the same folder, which is flushed
// and then renamed over the old one. A file with no write permission bit is refused for every user,
// root included.
Outcome WriteTextLines(const std::string& fileName, const std::vector<std::string>& lines,
                       std::string_view lineEnd = "\r\n");

// The same safe replacement for content that is already laid out, line ends included.
Outcome WriteFileSafely(const std::string& fileName, std::string_view content);

std::string CannotOpenText(const std::string& fileName);
std::string CannotCreateText(const std::string& fileName);
inline constexpr std::string_view kStreamWriteErrorText = "Stream write error";

}  // namespace norva
