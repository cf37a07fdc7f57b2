#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norva::picture {

// One event of the reading, as a tooltip shows it.
struct EventDetail {
    std::int64_t unixMicros = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> lines;  // its log lines as the reading renders them
};

// What the picture fetches from the reading it was filled from, only when someone looks: an
// event's bytes and lines under the pointer, the log lines scrolled into view.
class SessionDetails {
public:
    virtual ~SessionDetails() = default;
    // `source` as a mark carries it.
    virtual EventDetail Detail(std::uint32_t source) const = 0;
    virtual std::size_t LineCount() const = 0;
    // Up to `count` lines from `first`.
    virtual std::vector<std::string> Lines(std::size_t first, std::size_t count) const = 0;
};

}  // namespace norva::picture
