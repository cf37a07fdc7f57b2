// BILLVALUE.TXT reading and the value conversion, each checked against a deliberately plain
// second implementation.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "billvalues/bill_values.h"
#include "textfile/text_lines.h"

namespace {

// Normalise every line end to LF, cut at the first zero byte, split on LF.
std::vector<std::string> PlainSplit(std::string text, std::size_t maxLines) {
    text = text.substr(0, text.find('\0'));
    std::string unified;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            unified += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            unified += text[i];
        }
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < unified.size() && lines.size() < maxLines) {
        const std::size_t end = unified.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(unified.substr(start));
            break;
        }
        lines.push_back(unified.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<std::int32_t> PlainValue(const std::string& raw) {
    std::size_t i = raw.find_first_not_of(' ');
    if (i == std::string::npos) return std::nullopt;
    std::string s = raw.substr(i);
    auto all = [](const std::string& t, const char* set) {
        return !t.empty() && t.find_first_not_of(set) == std::string::npos;
    };
    std::string hex;
    if (s[0] == '$' || s[0] == 'x' || s[0] == 'X')
        hex = s.substr(1);
    else if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0)
        hex = s.substr(2);
    else {
        bool negative = s[0] == '-';
        if (s[0] == '+' || s[0] == '-') s = s.substr(1);
        if (!all(s, "0123456789")) return std::nullopt;
        long double v = 0;
        for (char c : s)
            v = v * 10 + (c - '0');
        if (negative) v = -v;
        if (v < -2147483648.0L || v > 2147483647.0L) return std::nullopt;
        return static_cast<std::int32_t>(static_cast<long long>(v));
    }
    if (hex.size() > 8 || !all(hex, "0123456789abcdefABCDEF")) return std::nullopt;
    return static_cast<std::int32_t>(std::stoul(hex, nullptr, 16));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t maxLines = input.ConsumeIntegralInRange<std::size_t>(0, 20);
    const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 16);
    const std::string text = input.ConsumeRemainingBytesAsString();

    norva::LineSplitter splitter(maxLines);
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        if (!splitter.Feed(std::string_view(text).substr(at, chunk))) break;
    }
    const auto lines = splitter.Finish();
    if (lines != PlainSplit(text, maxLines) || lines != norva::SplitTextLines(text, maxLines)) {
        std::fprintf(stderr, "line rules disagree\n");
        std::abort();
    }
    for (const auto& line : PlainSplit(text, 16)) {
        if (norva::ChannelValue(line) != PlainValue(line)) {
            std::fprintf(stderr, "conversion disagrees on '%s'\n", line.c_str());
            std::abort();
        }
    }
    return 0;
}
