#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "billvalues/bill_values.h"
#include "protocol/engine_window.h"
#include "protocol/traffic_sink.h"

namespace norva::cli {

// The window's part played on a terminal: log lines to standard output, notices to standard
// error, the channels and the escrow setting from the options, the displays kept as numbers. What
// the session did is the reading's to tell, not this front's. As a traffic sink it notes when the
// acceptor last sent something.
class TerminalFront : public EngineWindow, public TrafficSink {
public:
    struct Setup {
        // Where the log lines and the notices go, each with its LF; neither may block.
        std::function<void(std::string_view)> printLine;
        std::function<void(std::string_view)> printNotice;
        bool timestamps = false;
        std::array<bool, kChannelCount> ticked{};
        std::array<std::string, kChannelCount> captions{};
        bool noEscrow = false;
    };

    explicit TerminalFront(Setup setup);

    // Called when the engine has put a ticked note in escrow and awaits a decision.
    std::function<void()> onDecisionAwaited;
    // Called when the acceptor has come up disabled and the enable command is offered.
    std::function<void()> onEnableOffered;

    std::int64_t lastReceivedMicros() const { return lastReceivedMicros_; }

    // One line on standard error; control characters from files and devices are escaped.
    void Notice(const std::string& text);

    // EngineWindow
    void AppendLogLine(std::string_view line) override;
    void SetLinkIndicator(std::string_view, std::uint32_t) override {}
    void SetStatusText(int, std::string_view) override {}
    std::string EnableButtonCaption() const override { return enableCaption_; }
    void SetEnableButtonCaption(std::string_view caption) override;
    void SetAcceptEnabled(bool enabled) override;
    void SetRejectEnabled(bool) override {}
    void SetDisplayValue(Display display, std::int32_t value) override;
    std::int32_t DisplayValue(Display display) const override;
    bool ChannelTicked(int channel) const override;
    std::string ChannelCaption(int channel) const override;
    int EscrowSetting() const override { return setup_.noEscrow ? 1 : 0; }
    void ShowTransientProblem(std::string_view text) override;

    // TrafficSink
    void PortOpened(std::int64_t, const PortIdentity&) override {}
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t, std::uint8_t) override {}

private:
    Setup setup_;
    std::string enableCaption_{kDisableBaCaption};
    // As the engine gave them: nothing shows them, so no display's digits are kept here.
    std::array<std::int32_t, 3> displays_{};
    std::int64_t lastReceivedMicros_ = -1;
};

}  // namespace norva::cli
