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

    work_.assign(held_.begin(), held_.end());
    work_.insert(work_.end(), block.begin(), block.end());
    held_.clear();

    // Bytes whose message may continue in the next block wait for it. Every lead handled here
    // therefore has all the bytes it looks ahead at.
    const std::size_t n = work_.size();
    std::size_t handledEnd = n;
    if (n >= 2 && work_[n - 2] == wire::kEscrowLead && work_[n - 1] == wire::kMessageSecond) {
        handledEnd = n - 2;
    } else if (work_[n - 1] == wire::kPowerUpLead || work_[n - 1] == wire::kEscrowLead) {
        handledEnd = n - 1;
    }
    messageEnd_ = 0;
    for (std::size_t i = 0; i < handledEnd; ++i)
        HandleByteAt(work_, i);
    held_.assign(work_.begin() + static_cast<std::ptrdiff_t>(handledEnd), work_.end());
}

void ProtocolEngine::HandleByteAt(const std::vector<std::uint8_t>& bytes, std::size_t i) {
    const std::uint8_t b = bytes[i];
    const bool secondIs8F = i + 1 < bytes.size() && bytes[i + 1] == wire::kMessageSecond;
    switch (wire::Classify(b)) {
        case wire::ByteKind::Stacked:
            Stacked();
            break;
        case wire::ByteKind::Returned:
            Returned();
            break;
        case wire::ByteKind::LoggedOnly:
            window_.AppendLogLine(wire::ReceivedLine(b));
            break;
        case wire::ByteKind::Status:
            Status(b);
            break;
        case wire::ByteKind::PowerUpLead:
            if (secondIs8F) {
                PowerUp();
                messageEnd_ = i + 2;
            } else if (i >= messageEnd_) {
                ++bytesIgnored_;
            }
            break;
        case wire::ByteKind::EscrowLead:
            if (secondIs8F && i + 2 < bytes.size()) {
                Escrow(bytes[i + 2]);
                messageEnd_ = i + 3;
            } else if (i >= messageEnd_) {
                ++bytesIgnored_;
            }
            break;
        case wire::ByteKind::AckRequest:
            AckRequest();
            break;
        case wire::ByteKind::Ignored:
            // The second byte and the channel byte of a message are part of it, not noise.
            if (i >= messageEnd_) ++bytesIgnored_;
            break;
    }
}

void ProtocolEngine::Escrow(std::uint8_t channelByte) {
    window_.AppendLogLine(wire::EscrowLine(channelByte));
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
    window_.AppendLogLine(wire::ReceivedLine(wire::kStacked));
    DisableDecisionButtons(window_);
    NoteCount = WrappingAdd(NoteCount, 1);
    window_.SetDisplayValue(Display::NoteCount, NoteCount);
    window_.SetDisplayValue(Display::Escrow, 0);
    window_.SetDisplayValue(Display::Credit,
                            WrappingAdd(window_.DisplayValue(Display::Credit), EscrowValue));
    PollPermitted = 1;
}

void ProtocolEngine::Returned() {
    window_.AppendLogLine(wire::ReceivedLine(wire::kReturned));
    DisableDecisionButtons(window_);
    window_.SetDisplayValue(Display::Escrow, 0);
    PollPermitted = 1;
}

void ProtocolEngine::Status(std::uint8_t code) {
    window_.AppendLogLine(wire::ReceivedLine(code));
    PollPermitted = 1;
    if (EscrowPending == 1) {
        window_.SetDisplayValue(Display::Escrow, 0);
        EscrowPending = 0;
        DisableDecisionButtons(window_);
    }
}

void ProtocolEngine::PowerUp() {
    window_.AppendLogLine(wire::ReceivedLine(wire::kPowerUpLead));
    window_.AppendLogLine(wire::ReceivedLine(wire::kMessageSecond));
    Answer(wire::kAccept);
    window_.SetEnableButtonCaption(kEnableBaCaption);
}

void ProtocolEngine::AckRequest() {
    window_.AppendLogLine(wire::ReceivedLine(wire::kAckRequest));
    PollPermitted = 1;
    Answer(wire::kAccept);
}

}  // namespace norva
