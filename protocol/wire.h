#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace norva::wire {

// Host to acceptor.
inline constexpr std::uint8_t kAccept = 0x02;
inline constexpr std::uint8_t kReject = 0x0F;
inline constexpr std::uint8_t kPoll = 0x0C;
inline constexpr std::uint8_t kReset = 0x30;
inline constexpr std::uint8_t kDisable = 0x3E;
inline constexpr std::uint8_t kEnable = 0x5E;

// Acceptor to host.
inline constexpr std::uint8_t kStacked = 0x10;
inline constexpr std::uint8_t kReturned = 0x11;
inline constexpr std::uint8_t kLoggedOnly = 0x2F;
inline constexpr std::uint8_t kPowerUpLead = 0x80;
inline constexpr std::uint8_t kEscrowLead = 0x81;
inline constexpr std::uint8_t kMessageSecond = 0x8F;
inline constexpr std::uint8_t kAckRequest = 0xA1;

// Every status code, ascending.
inline constexpr std::array<std::uint8_t, 13> kStatusCodes{0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,
                                                           0x27, 0x28, 0x29, 0x3E, 0x5E, 0x71};

// The fixed log line of each command byte the host sends; empty for any other byte.
std::string_view SentLine(std::uint8_t command);

// "Receive [0x" + two upper-case hex digits + "]".
std::string ReceivedLine(std::uint8_t code);

// "Receive [0x81][0x8F][0x" + the channel byte in two upper-case hex digits + "]".
std::string EscrowLine(std::uint8_t channelByte);

// How a received byte is treated when it is looked at on its own position in a block.
enum class ByteKind {
    Ignored,
    Stacked,      // 0x10
    Returned,     // 0x11
    LoggedOnly,   // 0x2F
    Status,       // 0x20..0x29, 0x3E, 0x5E, 0x71
    PowerUpLead,  // 0x80: a power-up message when the next byte is 0x8F
    EscrowLead,   // 0x81: an escrow message when the next byte is 0x8F
    AckRequest,   // 0xA1
};
ByteKind Classify(std::uint8_t byte);

bool IsStatusCode(std::uint8_t byte);

// Note channel 1..16 named by the low four bits of a channel byte.
constexpr int ChannelOf(std::uint8_t channelByte) {
    return (channelByte & 0x0F) + 1;
}

}  // namespace norva::wire
