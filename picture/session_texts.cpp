#include "picture/session_texts.h"

#include <algorithm>

namespace norva::picture {

std::uint16_t SessionTexts::Intern(std::string_view text) {
    if (texts_.empty()) {
        // Number 0 is where texts beyond the limit go.
        texts_.emplace_back(kNotKept);
        ids_.emplace(texts_.back(), 0);
    }
    if (const auto it = ids_.find(text); it != ids_.end()) return it->second;
    if (texts_.size() > kMostTexts) return 0;
    texts_.emplace_back(text);
    const auto id = std::uint16_t(texts_.size() - 1);
    ids_.emplace(texts_.back(), id);
    return id;
}

std::uint32_t SessionTexts::AddLines(std::span<const std::string> lines) {
    const auto first = std::uint32_t(lines_.size());
    for (const std::string& line : lines)
        lines_.push_back(Intern(line));
    return first;
}

std::uint32_t SessionTexts::AddBytes(std::span<const std::uint8_t> bytes) {
    const std::size_t kept = std::min(bytes.size(), kBytesKept);
    const std::uint16_t text =
        Intern(std::string_view(reinterpret_cast<const char*>(bytes.data()), kept));
    const std::uint64_t key = (std::uint64_t(bytes.size()) << 16) | text;
    if (const auto it = sequenceIds_.find(key); it != sequenceIds_.end()) return it->second;
    sequences_.push_back({text, std::uint32_t(std::min<std::size_t>(bytes.size(), UINT32_MAX))});
    const auto id = std::uint32_t(sequences_.size() - 1);
    sequenceIds_.emplace(key, id);
    return id;
}

std::string_view SessionTexts::Line(std::size_t index) const {
    return index < lines_.size() ? std::string_view(texts_[lines_[index]]) : std::string_view();
}

std::vector<std::string> SessionTexts::Lines(std::size_t first, std::size_t count) const {
    std::vector<std::string> out;
    for (std::size_t i = first; i < lines_.size() && i - first < count; ++i)
        out.emplace_back(texts_[lines_[i]]);
    return out;
}

std::vector<std::uint8_t> SessionTexts::Bytes(std::uint32_t id) const {
    if (id >= sequences_.size() || sequences_[id].text == 0) return {};
    const std::string& text = texts_[sequences_[id].text];
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::size_t SessionTexts::BytesLength(std::uint32_t id) const {
    return id < sequences_.size() ? sequences_[id].length : 0;
}

void SessionTexts::Clear() {
    texts_.clear();
    ids_.clear();
    lines_.clear();
    sequences_.clear();
    sequenceIds_.clear();
}

std::size_t SessionTexts::MemoryBytes() const {
    std::size_t bytes = texts_.size() * sizeof(std::string) +
                        lines_.capacity() * sizeof(std::uint16_t) +
                        sequences_.capacity() * sizeof(Sequence) +
                        // A node and a bucket for each entry of the two maps.
                        ids_.size() * (sizeof(std::string_view) + 2 * sizeof(void*) + 8) +
                        sequenceIds_.size() * (16 + 2 * sizeof(void*));
    for (const std::string& text : texts_)
        bytes += text.capacity() > 15 ? text.capacity() + 1 : 0;
    return bytes;
}

}  // namespace norva::picture
