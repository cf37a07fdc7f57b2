#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// The acceptor's codes as the protocol's tables list them, written out for the suites'
// expectations so that no suite takes them from the classifier it checks.
namespace protocol_tables {

// The status codes: 0x20 to 0x29, 0x3E, 0x5E and 0x71.
inline constexpr std::array<std::uint8_t, 13> kStatusCodes{0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,
                                                           0x27, 0x28, 0x29, 0x3E, 0x5E, 0x71};

inline bool IsStatusCode(std::uint8_t byte) {
    return std::find(kStatusCodes.begin(), kStatusCodes.end(), byte) != kStatusCodes.end();
}

// What the host does with a received byte looked at on its own position.
enum class Reaction {
    None,
    Stacked,      // 0x10
    Returned,     // 0x11
    LoggedOnly,   // 0x2F
    Status,       // kStatusCodes
    PowerUpLead,  // 0x80, a message with 0x8F after it
    EscrowLead,   // 0x81, a message with 0x8F and a channel byte after it
    AckRequest,   // 0xA1
};

inline Reaction ReactionTo(std::uint8_t byte) {
    switch (byte) {
        case 0x10:
            return Reaction::Stacked;
        case 0x11:
            return Reaction::Returned;
        case 0x2F:
            return Reaction::LoggedOnly;
        case 0x80:
            return Reaction::PowerUpLead;
        case 0x81:
            return Reaction::EscrowLead;
        case 0xA1:
            return Reaction::AckRequest;
        default:
            return IsStatusCode(byte) ? Reaction::Status : Reaction::None;
    }
}

}  // namespace protocol_tables
