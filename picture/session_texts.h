#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace norva::picture {

// The log lines of a session in order, and the bytes of its events, at two bytes a line: a
// session says the same few hundred things again and again, so each distinct text and byte
// sequence is kept once and every line is its number.
class SessionTexts {
public:
    // The number of the first of the lines added.
    std::uint32_t AddLines(std::span<const std::string> lines);
    std::uint32_t AddBytes(std::span<const std::uint8_t> bytes);

    std::size_t lineCount() const { return lines_.size(); }
    std::string_view Line(std::size_t index) const;
    // Up to `count` lines from `first`.
    std::vector<std::string> Lines(std::size_t first, std::size_t count) const;
    // A sequence longer than kBytesKept is kept cut, with its length.
    std::vector<std::uint8_t> Bytes(std::uint32_t id) const;
    std::size_t BytesLength(std::uint32_t id) const;

    void Clear();
    void Compact() { lines_.shrink_to_fit(); }
    std::size_t MemoryBytes() const;

    static constexpr std::size_t kBytesKept = 16;
    // Beyond this many distinct texts (a flood of noise), a new one reads kNotKept.
    static constexpr std::size_t kMostTexts = 65535;
    static constexpr std::string_view kNotKept = "(more distinct texts than are kept)";

private:
    std::uint16_t Intern(std::string_view text);

    std::deque<std::string> texts_;  // never moves a text, so the map may view them
    std::unordered_map<std::string_view, std::uint16_t> ids_;
    std::vector<std::uint16_t> lines_;
    struct Sequence {
        std::uint16_t text;  // the bytes kept, as a text of their own
        std::uint32_t length;
    };
    std::vector<Sequence> sequences_;
    std::unordered_map<std::uint64_t, std::uint32_t> sequenceIds_;
};

}  // namespace norva::picture
