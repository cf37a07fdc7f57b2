#pragma once

#include <cstdint>

namespace norva {

// Shared by the protocol engine and the operator's commands. Both run on the window's thread
// (the receive thread only reads the port and hands blocks over), so every command and every
// handled byte sees and changes these as one step.
extern int PollPermitted;
extern int EscrowPending;
extern int AwaitingDecision;
extern std::int32_t EscrowValue;
extern std::int32_t NoteCount;

// Back to the values at program start.
void ResetSharedState();

// 32-bit two's complement addition, without signed overflow.
constexpr std::int32_t WrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace norva
