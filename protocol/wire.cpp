#include "protocol/wire.h"

#include "base/hex.h"

namespace norva::wire {

std::string_view SentLine(std::uint8_t command) {
    switch (command) {
        case kAccept:
            return "Send      [0x02]";
        case kReject:
            return "Send      [0x0F]";
        case kPoll:
            return "Send      [0x0C]";
        case kReset:
            return "Send      [0x30]";
        case kDisable:
            return "Send [0x3E]";
        case kEnable:
            return "Send [0x5E]";
        default:
            return {};
    }
}

std::string ReceivedLine(std::uint8_t code) {
    std::string line = "Receive [0x";
    AppendHexByte(line, code);
    line += ']';
    return line;
}

std::string EscrowLine(std::uint8_t channelByte) {
    std::string line = "Receive [0x81][0x8F][0x";
    AppendHexByte(line, channelByte);
    line += ']';
    return line;
}

bool IsStatusCode(std::uint8_t byte) {
    static constexpr auto kIsStatus = [] {
        std::array<bool, 256> table{};
        for (const std::uint8_t code : kStatusCodes)
            table[code] = true;
        return table;
    }();
    return kIsStatus[byte];
}

ByteKind Classify(std::uint8_t byte) {
    switch (byte) {
        case kStacked:
            return ByteKind::Stacked;
        case kReturned:
            return ByteKind::Returned;
        case kLoggedOnly:
            return ByteKind::LoggedOnly;
        case kPowerUpLead:
            return ByteKind::PowerUpLead;
        case kEscrowLead:
            return ByteKind::EscrowLead;
        case kAckRequest:
            return ByteKind::AckRequest;
        default:
            return IsStatusCode(byte) ? ByteKind::Status : ByteKind::Ignored;
    }
}

}  // namespace norva::wire
