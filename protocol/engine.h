#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/engine_window.h"
#include "protocol/message_scanner.h"
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
    void DropHeldTail() { scanner_.DropHeldTail(); }

    std::size_t blocksHandled() const { return blocksHandled_; }
    std::size_t bytesHandled() const { return bytesHandled_; }
    // Bytes that were neither a code the protocol knows nor part of one of its messages.
    std::size_t bytesIgnored() const { return bytesIgnored_; }

private:
    void Handle(const ScannedByte& s);
    void Escrow(std::uint8_t channelByte);
    void Stacked();
    void Returned();
    void Status();
    void PowerUp();
    void AckRequest();
    void Answer(std::uint8_t command) { SendAndLog(window_, send_, command); }

    EngineWindow& window_;
    ByteSender send_;
    MessageScanner scanner_;
    std::size_t blocksHandled_ = 0;
    std::size_t bytesHandled_ = 0;
    std::size_t bytesIgnored_ = 0;
};

}  // namespace norva
