#include "protocol/engine.h"

#include "billvalues/bill_values.h"
#include "protocol/shared_state.h"
#include "protocol/wire.h"

namespace norva {

namespace {

constexpr std::uint32_t kLinkGreen = 0x008000;

}  // namespace

ProtocolEngine::ProtocolEngine(EngineWindow& window, ByteSender send)
    : window_(window), send_(std::move(send)) {}

void ProtocolEngine::HandleBlock(std::span<const std::uint8_t> block) {
    if (block.empty()) return;
    ++blocksHandled_;
    bytesHandled_ += block.size();
    window_.SetLinkIndicator(kLinkingNowCaption, kLinkGreen);
    window_.SetStatusText(kLinkStatusPanel, kLinkingStatusText);

    scanner_.Scan(block, [this](const ScannedByte& s) { Handle(s); });
}

void ProtocolEngine::Handle(const ScannedByte& s) {
    // Each handler's first step is its received line(s), written by the one recognition.
    ForEachReceivedLine(s, [this](const std::string& line) { window_.AppendLogLine(line); });
    switch (s.kind) {
        case Scanned::Stacked:
            Stacked();
            break;
        case Scanned::Returned:
            Returned();
            break;
        case Scanned::LoggedOnly:
            break;
        case Scanned::Status:
            Status();
            break;
        case Scanned::PowerUp:
            PowerUp();
            break;
        case Scanned::Escrow:
            Escrow(s.channelByte);
            break;
        case Scanned::AckRequest:
            AckRequest();
            break;
        case Scanned::Ignored:
            ++bytesIgnored_;
            break;
        case Scanned::MessagePart:
            break;
    }
}

void ProtocolEngine::Escrow(std::uint8_t channelByte) {
    EscrowPending = 1;
    PollPermitted = 0;
    const int channel = wire::ChannelOf(channelByte);
    if (!window_.ChannelTicked(channel)) {
        Answer(wire::kReject);
        return;
    }
    const std::string caption = window_.ChannelCaption(channel);
    const auto value = ChannelValue(caption);
    if (!value) {
        // A value that is not a number refuses the note like an unticked channel, and the
        // operator is told why without stopping reception.
        Answer(wire::kReject);
        window_.ShowTransientProblem(NotAValidIntegerText(caption));
        return;
    }
    EscrowValue = *value;
    window_.SetDisplayValue(Display::Escrow, EscrowValue);
    if (window_.EscrowSetting() == 1) {
        Answer(wire::kAccept);
        return;
    }
    AwaitingDecision = 1;
    window_.SetAcceptEnabled(true);
    window_.SetRejectEnabled(true);
}

void ProtocolEngine::Stacked() {
    DisableDecisionButtons(window_);
    NoteCount = WrappingAdd(NoteCount, 1);
    window_.SetDisplayValue(Display::NoteCount, NoteCount);
    window_.SetDisplayValue(Display::Escrow, 0);
    window_.SetDisplayValue(Display::Credit,
                            WrappingAdd(window_.DisplayValue(Display::Credit), EscrowValue));
    PollPermitted = 1;
}

void ProtocolEngine::Returned() {
    DisableDecisionButtons(window_);
    window_.SetDisplayValue(Display::Escrow, 0);
    PollPermitted = 1;
}

void ProtocolEngine::Status() {
    PollPermitted = 1;
    if (EscrowPending == 1) {
        window_.SetDisplayValue(Display::Escrow, 0);
        EscrowPending = 0;
        DisableDecisionButtons(window_);
    }
}

void ProtocolEngine::PowerUp() {
    Answer(wire::kAccept);
    window_.SetEnableButtonCaption(kEnableBaCaption);
}

void ProtocolEngine::AckRequest() {
    PollPermitted = 1;
    Answer(wire::kAccept);
}

}  // namespace norva
