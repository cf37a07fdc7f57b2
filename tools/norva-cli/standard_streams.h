#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/norva-cli/stream_writer.h"

namespace norva::cli {

// Descriptors 0 to 2 closed at start would be taken by the first files opened (the stop signal's
// pipe, the port) and get the output. Each is taken by /dev/null instead; which were closed.
std::array<bool, 3> TakeStandardDescriptors();

// Standard output and error, neither of which may hold up the protocol.
class Streams {
public:
    explicit Streams(bool outputClosed);

    void Line(std::string_view line) { (void)out_.Write(line); }
    void Notice(std::string_view text) { (void)err_.Write(text); }
    std::uint64_t droppedLines() const { return out_.droppedLines(); }

    // Writes the last text (the summary, the help) and waits for both streams as long as they
    // take bytes. Standard output that failed or stalls: the text goes to standard error, and
    // a status that says all went well becomes kExitOutputLost.
    int End(int status, const std::string& last);

private:
    void Lost(const Outcome& failure);

    StreamWriter err_;
    StreamWriter out_;
};

}  // namespace norva::cli
