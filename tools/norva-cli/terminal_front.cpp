#include "tools/norva-cli/terminal_front.h"

#include "capture/capture_format.h"
#include "textfile/printable.h"

namespace norva::cli {

TerminalFront::TerminalFront(Setup setup) : setup_(std::move(setup)) {}

void TerminalFront::Notice(const std::string& text) {
    if (setup_.printNotice) setup_.printNotice(Printable(text) + "\n");
}

void TerminalFront::AppendLogLine(std::string_view line) {
    std::string text;
    if (setup_.timestamps) {
        AppendUtcTime(text, UnixMicrosNow());
        text += ' ';
    }
    text += line;
    text += '\n';
    if (setup_.printLine) setup_.printLine(text);
}

void TerminalFront::SetEnableButtonCaption(std::string_view caption) {
    enableCaption_ = std::string(caption);
    if (caption == kEnableBaCaption && onEnableOffered) onEnableOffered();
}

void TerminalFront::SetAcceptEnabled(bool enabled) {
    if (enabled && onDecisionAwaited) onDecisionAwaited();
}

void TerminalFront::SetDisplayValue(Display display, std::int32_t value) {
    displays_[static_cast<std::size_t>(display)] = value;
}

std::int32_t TerminalFront::DisplayValue(Display display) const {
    return displays_[static_cast<std::size_t>(display)];
}

bool TerminalFront::ChannelTicked(int channel) const {
    return channel >= 1 && channel <= kChannelCount &&
           setup_.ticked[static_cast<std::size_t>(channel - 1)];
}

std::string TerminalFront::ChannelCaption(int channel) const {
    if (channel < 1 || channel > kChannelCount) return {};
    return setup_.captions[static_cast<std::size_t>(channel - 1)];
}

void TerminalFront::ShowTransientProblem(std::string_view text) {
    Notice(std::string(text));
}

void TerminalFront::Received(std::int64_t, std::span<const std::uint8_t>) {
    lastReceivedMicros_ = UnixMicrosNow();
}

}  // namespace norva::cli
