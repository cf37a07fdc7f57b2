#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "textfile/text_lines.h"

namespace norva {

inline constexpr int kChannelCount = 16;
// The window starts with channels 1 to this ticked, and norva-cli accepts them by default.
inline constexpr int kChannelsTickedAtStart = 3;
constexpr std::array<bool, kChannelCount> TickedAtStart() {
    std::array<bool, kChannelCount> ticked{};
    for (int c = 0; c < kChannelsTickedAtStart; ++c)
        ticked[static_cast<std::size_t>(c)] = true;
    return ticked;
}
inline constexpr const char* kBillValueFileName = "BILLVALUE.TXT";

// The sixteen entries of the bill value table as 8-bit texts, channel 1 first.
using BillValueEntries = std::array<std::string, kChannelCount>;

// The lines of a bill value file (BILLVALUE.TXT in the working directory unless named); only
// the first sixteen are read.
Result<TextLines> ReadBillValueFile(const std::string& fileName = std::string(kBillValueFileName));

// Entry i becomes line i for as many lines as there are, up to sixteen; other entries keep
// their texts.
template <typename SetEntry>
void ApplyBillValueLines(const std::vector<std::string>& lines, SetEntry&& setEntry) {
    const std::size_t count = lines.size() < kChannelCount ? lines.size() : kChannelCount;
    for (std::size_t i = 0; i < count; ++i)
        setEntry(static_cast<int>(i) + 1, lines[i]);
}

// Writes the sixteen entries, each followed by CR LF.
Outcome WriteBillValueFile(const BillValueEntries& entries);

// The built-in table: channel n is worth n.
BillValueEntries DefaultBillValues();

// The value of an entry: leading blanks, then either an optional sign and decimal digits within
// the signed 32-bit range, or (without a sign) "$", "x", "X", "0x" or "0X" and at most eight hex
// digits giving the 32 bits of the result. Nothing may follow the digits.
std::optional<std::int32_t> ChannelValue(std::string_view text);

// "'<text>' is not a valid integer value"
std::string NotAValidIntegerText(std::string_view text);

}  // namespace norva
