#include "tools/norva-cli/terminal_front.h"

#include <cstdio>
#include <ctime>
#include <optional>

#include "billvalues/bill_values.h"
#include "protocol/wire.h"
#include "textfile/printable.h"

namespace norva::cli {

namespace {

constexpr int kDigitsOf[] = {3, 5, 8};  // note count, escrow, credit

// "2026-12-09T03:14:15.123456Z"
std::string UtcTime(std::int64_t unixMicros) {
    const std::time_t seconds = static_cast<std::time_t>(unixMicros / 1000000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[48];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(buffer + n, sizeof buffer - n, ".%06lldZ",
                  static_cast<long long>(unixMicros % 1000000));
    return buffer;
}

// Two upper-case hex digits, as the log lines write a byte; nothing for anything else.
std::optional<std::uint8_t> HexByte(std::string_view digits) {
    if (digits.size() != 2) return std::nullopt;
    unsigned value = 0;
    for (const char c : digits) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint8_t>(value);
}

// The code of a "Receive [0xNN]" line; nothing for any other line.
std::optional<std::uint8_t> ReceivedCode(std::string_view line) {
    const std::string lead = wire::ReceivedLine(0).substr(0, wire::ReceivedLine(0).size() - 3);
    if (line.size() != lead.size() + 3 || !line.starts_with(lead) || line.back() != ']')
        return std::nullopt;
    return HexByte(line.substr(lead.size(), 2));
}

}  // namespace

std::int32_t DisplayReduced(std::int32_t value, int digits) {
    std::int64_t power = 1;
    for (int i = 0; i < digits && i < 10; ++i)
        power *= 10;
    const std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
    return static_cast<std::int32_t>(magnitude % power);
}

TerminalFront::TerminalFront(Setup setup) : setup_(std::move(setup)) {}

SessionSummary TerminalFront::summary() const {
    SessionSummary s = summary_;
    s.refusedUnticked = refusedUnticked_;
    return s;
}

void TerminalFront::Notice(const std::string& text) {
    if (setup_.printNotice) setup_.printNotice(Printable(text) + "\n");
}

void TerminalFront::AppendLogLine(std::string_view line) {
    std::string text = setup_.timestamps ? UtcTime(UnixMicrosNow()) + " " : std::string();
    text += line;
    text += '\n';
    if (setup_.printLine) setup_.printLine(text);

    // The tallies follow the engine's own lines, whose texts come from the wire table.
    const std::string escrowLead = wire::EscrowLine(0).substr(0, wire::EscrowLine(0).size() - 3);
    if (line.size() == escrowLead.size() + 3 && line.starts_with(escrowLead)) {
        if (const auto channelByte = HexByte(line.substr(escrowLead.size(), 2)))
            escrowChannel_ = wire::ChannelOf(*channelByte);
        return;
    }
    const auto code = ReceivedCode(line);
    if (!code) return;
    const std::uint8_t byte = *code;
    if (byte == wire::kStacked) stackPending_ = true;
    if (byte == wire::kPowerUpLead) ++summary_.powerUps;
    if (byte == wire::kReturned) ++summary_.returned;
    if (wire::IsStatusCode(byte)) ++summary_.statusCodes[byte];
}

void TerminalFront::SetEnableButtonCaption(std::string_view caption) {
    enableCaption_ = std::string(caption);
    if (caption == "Enable BA" && onEnableOffered) onEnableOffered();
}

void TerminalFront::SetAcceptEnabled(bool enabled) {
    if (enabled && onDecisionAwaited) onDecisionAwaited();
}

void TerminalFront::SetDisplayValue(Display display, std::int32_t value) {
    const auto index = static_cast<std::size_t>(display);
    displays_[index] = DisplayReduced(value, kDigitsOf[index]);
    if (display != Display::Credit) return;
    summary_.credit = displays_[index];
    // A stack ends with the credit, so a stop after it sees the note credited.
    if (stackPending_) {
        stackPending_ = false;
        ++summary_.stacked[static_cast<std::size_t>(escrowChannel_)];
        escrowChannel_ = 0;
        if (onStacked) onStacked();
    }
}

std::int32_t TerminalFront::DisplayValue(Display display) const {
    return displays_[static_cast<std::size_t>(display)];
}

bool TerminalFront::ChannelTicked(int channel) const {
    askedChannel_ = channel;
    const bool ticked =
        channel >= 1 && channel <= 16 && setup_.ticked[static_cast<std::size_t>(channel - 1)];
    if (!ticked) ++refusedUnticked_;
    return ticked;
}

std::string TerminalFront::ChannelCaption(int channel) const {
    if (channel < 1 || channel > 16) return {};
    return setup_.captions[static_cast<std::size_t>(channel - 1)];
}

void TerminalFront::ShowTransientProblem(std::string_view text) {
    if (askedChannel_ != 0 && text == NotAValidIntegerText(ChannelCaption(askedChannel_))) {
        ++summary_.refusedNotANumber;
    }
    Notice(std::string(text));
}

void TerminalFront::Received(std::int64_t, std::span<const std::uint8_t>) {
    lastReceivedMicros_ = UnixMicrosNow();
}

void TerminalFront::BlockEnded(std::int64_t lastByteUnixMicros) {
    blockEndMicros_ = lastByteUnixMicros;
}

void TerminalFront::Sent(std::int64_t unixMicros, std::uint8_t) {
    if (operatorSending_ || blockEndMicros_ < 0) return;
    summary_.answerLatencyMs.push_back(static_cast<double>(unixMicros - blockEndMicros_) / 1000.0);
}

}  // namespace norva::cli
