#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "billvalues/bill_values.h"
#include "protocol/wire.h"

namespace norva::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kChannels = kChannelCount;

// Poll answers by state. The device mirrors the host's own enable and disable codes as its
// state; 0x71 says it is busy holding a note. 0x20..0x29 have no meaning of their own here and
// are only reported when the person pins them with "status XX".
inline constexpr std::uint8_t kStatusEnabled = wire::kEnable;
inline constexpr std::uint8_t kStatusDisabled = wire::kDisable;
inline constexpr std::uint8_t kStatusHolding = 0x71;

// One thing the device does, in the order it does them.
struct Effect {
    enum class Kind {
        Send,     // one write of bytes to the line
        Note,     // a state change, for the person at the bench
        Refused,  // something the person asked for that the device will not do
    };
    Kind kind = Kind::Note;
    Bytes bytes;
    std::string text;

    bool operator==(const Effect&) const = default;
};
using Effects = std::vector<Effect>;

// The status codes as the person types them: "20..29, 3E, 5E, 71".
std::string StatusCodesText();

// "0x40 | (channel - 1)" for channel 1..16.
constexpr std::uint8_t ChannelByte(int channel) {
    return static_cast<std::uint8_t>(0x40 | ((channel - 1) & 0x0F));
}

// The device's state machine, free of any I/O so that it can be driven and inspected directly.
class Acceptor {
public:
    // A power cycle: a note in escrow goes back to the customer, the device comes up disabled
    // and talking, and announces itself. A pinned status survives it, as a fault would.
    Effects PowerUp();

    Effects OnHostByte(std::uint8_t byte);
    Effects Insert(int channel);
    // Pins the poll answer to code, or with no code goes back to the state's own code.
    Effects SetStatus(std::optional<std::uint8_t> code);
    Effects SetQuiet(bool quiet);
    // The host left the note in escrow too long: it goes back to the customer, and the host is
    // told as when the escrow ends without stacking. Nothing while quiet or without a note.
    Effects HandBack(const std::string& why);

    std::uint8_t StatusCode() const;
    bool enabled() const { return enabled_; }
    bool quiet() const { return quiet_; }
    std::optional<int> escrow() const { return escrow_; }
    std::string Describe() const;

private:
    Effects Restart(const std::string& why);

    bool enabled_ = false;
    bool quiet_ = false;
    std::optional<int> escrow_;
    std::optional<std::uint8_t> pinnedStatus_;
};

}  // namespace norva::sim
