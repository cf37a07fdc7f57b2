#include "tools/acceptor-sim/acceptor.h"

#include "tools/acceptor-sim/console.h"

namespace norva::sim {

namespace {

Effect Send(Bytes bytes) {
    return {Effect::Kind::Send, std::move(bytes), {}};
}
Effect Note(std::string text) {
    return {Effect::Kind::Note, {}, std::move(text)};
}
Effect Refuse(std::string text) {
    return {Effect::Kind::Refused, {}, std::move(text)};
}

std::string NoteOn(int channel) {
    return "note on channel " + std::to_string(channel);
}

}  // namespace

std::string StatusCodesText() {
    const auto& codes = wire::kStatusCodes;
    std::string text;
    for (std::size_t i = 0; i < codes.size();) {
        std::size_t last = i;
        while (last + 1 < codes.size() && codes[last + 1] == codes[last] + 1)
            ++last;
        if (!text.empty()) text += ", ";
        text += HexText(codes[i]);
        if (last > i) text += ".." + HexText(codes[last]);
        i = last + 1;
    }
    return text;
}

Effects Acceptor::Restart(const std::string& why) {
    Effects effects{Note(why)};
    if (escrow_) effects.push_back(Note(NoteOn(*escrow_) + " handed back to the customer"));
    escrow_.reset();
    enabled_ = false;
    quiet_ = false;
    effects.push_back(Send({wire::kPowerUpLead, wire::kMessageSecond}));
    return effects;
}

Effects Acceptor::PowerUp() {
    return Restart("power-up");
}

Effects Acceptor::OnHostByte(std::uint8_t byte) {
    if (quiet_) return {};
    switch (byte) {
        case wire::kPoll:
            return {Send({StatusCode()})};
        case wire::kReset:
            return Restart("reset by the host");
        case wire::kEnable:
            if (enabled_) return {};
            enabled_ = true;
            return {Note("enabled by the host")};
        case wire::kDisable:
            if (!enabled_) return {};
            enabled_ = false;
            return {Note("disabled by the host")};
        case wire::kAccept: {
            // Outside escrow this is the host acknowledging a power-up or a request: nothing to do.
            if (!escrow_) return {};
            const int channel = *escrow_;
            escrow_.reset();
            return {Send({wire::kStacked}), Note(NoteOn(channel) + " stacked")};
        }
        case wire::kReject: {
            if (!escrow_) return {};
            const int channel = *escrow_;
            escrow_.reset();
            return {Send({wire::kReturned}), Note(NoteOn(channel) + " returned")};
        }
        default:
            return {Note("ignored host byte " + HexText(byte))};
    }
}

Effects Acceptor::Insert(int channel) {
    if (channel < 1 || channel > kChannels) {
        return {Refuse("channel " + std::to_string(channel) + " does not exist (1 to " +
                       std::to_string(kChannels) + ")")};
    }
    if (quiet_) return {Refuse("insert refused: the device is quiet (talk resumes it)")};
    if (!enabled_) {
        return {Refuse("insert refused: the acceptor is disabled until the host enables it")};
    }
    // The slot is blocked while a note waits in escrow; a real transport cannot take a second.
    if (escrow_) {
        return {Refuse("insert refused: " + NoteOn(*escrow_) +
                       " is still in escrow, waiting for the host to stack or return it")};
    }
    escrow_ = channel;
    return {Send({wire::kEscrowLead, wire::kMessageSecond, ChannelByte(channel)}),
            Note(NoteOn(channel) + " held in escrow")};
}

Effects Acceptor::SetStatus(std::optional<std::uint8_t> code) {
    if (code && !wire::IsStatusCode(*code)) {
        return {Refuse(HexText(*code) + " is not a status code (" + StatusCodesText() +
                       "); raw sends any byte")};
    }
    pinnedStatus_ = code;
    if (code) return {Note("polls answered with " + HexText(*code) + " until status auto")};
    return {Note("polls answered by state again (" + HexText(StatusCode()) + ")")};
}

Effects Acceptor::SetQuiet(bool quiet) {
    if (quiet_ == quiet) return {};
    quiet_ = quiet;
    return {Note(quiet ? "quiet: ignoring the host and sending nothing of its own"
                       : "talking to the host again")};
}

Effects Acceptor::HandBack(const std::string& why) {
    if (!escrow_ || quiet_) return {};
    const int channel = *escrow_;
    escrow_.reset();
    return {Send({wire::kReturned}), Note(NoteOn(channel) + " handed back: " + why)};
}

std::uint8_t Acceptor::StatusCode() const {
    if (pinnedStatus_) return *pinnedStatus_;
    if (escrow_) return kStatusHolding;
    return enabled_ ? kStatusEnabled : kStatusDisabled;
}

std::string Acceptor::Describe() const {
    std::string text = enabled_ ? "enabled" : "disabled";
    text += escrow_ ? ", " + NoteOn(*escrow_) + " in escrow" : ", idle";
    if (quiet_) text += ", quiet";
    text += ", polls answered with " + HexText(StatusCode());
    if (pinnedStatus_) text += " (pinned)";
    return text;
}

}  // namespace norva::sim
