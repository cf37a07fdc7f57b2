#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/engine_window.h"
#include "protocol/window_steps.h"

namespace norva {

// The receive side of the protocol: turns each block read from the port into log lines,
// answers and window changes.
class ProtocolEngine {
public:
    ProtocolEngine(EngineWindow& window, ByteSender send);

    // One block as the port delivered it: the link indicator once, then every byte in order.
    // A block that ends part-way into a message (0x80, 0x81 or 0x81 0x8F) keeps that tail and
    // puts it in front of the next block, so a message cut by a read boundary is still seen.
    void HandleBlock(std::span<const std::uint8_t> block);

    // Forgets a held tail; the next block comes from another port.
    void DropHeldTail() { held_.clear(); }

    std::size_t blocksHandled() const { return blocksHandled_; }
    std::size_t bytesHandled() const { return bytesHandled_; }
    // Bytes that were neither a code the protocol knows nor part of one of its messages.
    std::size_t bytesIgnored() const { return bytesIgnored_; }

private:
    void HandleByteAt(const std::vector<std::uint8_t>& bytes, std::size_t i);
    void Escrow(std::uint8_t channelByte);
    void Stacked();
    void Returned();
    void Status(std::uint8_t code);
    void PowerUp();
    void AckRequest();
    void Answer(std::uint8_t command) { SendAndLog(window_, send_, command); }

    EngineWindow& window_;
    ByteSender send_;
    std::vector<std::uint8_t> held_;
    std::vector<std::uint8_t> work_;
    std::size_t blocksHandled_ = 0;
    std::size_t bytesHandled_ = 0;
    std::size_t bytesIgnored_ = 0;
    std::size_t messageEnd_ = 0;  // the first position after the last message handled
};

}  // namespace norva
