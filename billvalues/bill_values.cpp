#include "billvalues/bill_values.h"

namespace norva {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::int32_t> ParseHex(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t bits = 0;
    for (const char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        bits = (bits << 4) | static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(bits);  // two's complement: $FFFFFFFF is -1
}

std::optional<std::int32_t> ParseDecimal(std::string_view digits, bool negative) {
    if (digits.empty()) return std::nullopt;
    // The magnitude is kept unsigned and bounded, so no step can overflow.
    const std::uint32_t limit = negative ? 2147483648u : 2147483647u;
    std::uint32_t magnitude = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto d = static_cast<std::uint32_t>(c - '0');
        if (magnitude > (limit - d) / 10) return std::nullopt;
        magnitude = magnitude * 10 + d;
    }
    if (!negative) return static_cast<std::int32_t>(magnitude);
    return magnitude == 2147483648u ? INT32_MIN : -static_cast<std::int32_t>(magnitude);
}

}  // namespace

Result<TextLines> ReadBillValueFile(const std::string& fileName) {
    return ReadTextLines(fileName, kChannelCount);
}

Outcome WriteBillValueFile(const BillValueEntries& entries) {
    return WriteTextLines(kBillValueFileName,
                          std::vector<std::string>(entries.begin(), entries.end()));
}

BillValueEntries DefaultBillValues() {
    BillValueEntries entries;
    for (int n = 1; n <= kChannelCount; ++n)
        entries[n - 1] = std::to_string(n);
    return entries;
}

std::optional<std::int32_t> ChannelValue(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    if (text.front() == '+' || text.front() == '-') {
        return ParseDecimal(text.substr(1), text.front() == '-');
    }
    if (text.front() == '$' || text.front() == 'x' || text.front() == 'X') {
        return ParseHex(text.substr(1));
    }
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return ParseHex(text.substr(2));
    }
    return ParseDecimal(text, false);
}

std::string NotAValidIntegerText(std::string_view text) {
    std::string message = "'";
    message += text;
    message += "' is not a valid integer value";
    return message;
}

}  // namespace norva
