#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

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

// The note channel, 1 to 16, that a channel byte names in its low four bits.
inline int ChannelOf(std::uint8_t channelByte) {
    return (channelByte & 0x0F) + 1;
}

// The log lines of the commands the host sends, each exactly as the log shows it.
inline constexpr std::array<std::string_view, 6> kSentLines{"Send      [0x02]", "Send      [0x0F]",
                                                            "Send      [0x0C]", "Send      [0x30]",
                                                            "Send [0x3E]",      "Send [0x5E]"};

// The log line of a received byte: "Receive [0x" + two upper-case hex digits + "]".
inline std::string ReceivedLine(std::uint8_t byte) {
    char text[32];
    std::snprintf(text, sizeof text, "Receive [0x%02X]", byte);
    return text;
}

// The window's captions the engine and the commands set.
inline constexpr std::string_view kNoLink = "No Link";
inline constexpr std::string_view kLinkingNow = "Linking Now";
inline constexpr std::string_view kEnableBa = "Enable BA";
inline constexpr std::string_view kDisableBa = "Disable BA";

}  // namespace protocol_tables
