#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol/wire.h"

namespace norva {

// What a received byte is on its own position in the stream of blocks. The wire rules look at
// every position in turn, so the 0x8F and the channel byte of a message are visited again: a
// channel byte that equals a code is that code as well, otherwise it is part of the message.
enum class Scanned : std::uint8_t {
    Stacked,      // 0x10
    Returned,     // 0x11
    LoggedOnly,   // 0x2F
    Status,       // a status code
    PowerUp,      // 0x80 with 0x8F after it
    Escrow,       // 0x81 with 0x8F and a channel byte after it
    AckRequest,   // 0xA1
    Ignored,      // neither a code nor part of a message
    MessagePart,  // the 0x8F or the channel byte of a message, and nothing of its own
};

struct ScannedByte {
    Scanned kind = Scanned::Ignored;
    std::uint8_t byte = 0;         // the byte at this position
    std::uint8_t channelByte = 0;  // Escrow only: the byte after the 0x8F
    // Index in the bytes of this scan: the tail held from the block before comes first.
    std::size_t position = 0;
    // This byte among the scanned bytes, valid during the visit; a message's bytes follow it.
    const std::uint8_t* at = nullptr;
};

// The one recognition of the acceptor's messages, fed block by block. A block that ends
// part-way into a message (0x80, 0x81 or 0x81 0x8F) keeps that tail and puts it in front of the
// next block, so a message cut by a read boundary is still seen; every position handed out
// therefore has all the bytes it looks ahead at.
class MessageScanner {
public:
    // Calls visit(const ScannedByte&) for each position, in order.
    template <typename Visit>
    void Scan(std::span<const std::uint8_t> block, Visit&& visit);

    // Forgets a held tail; the next block comes from another port or a restarted device.
    void DropHeldTail() { heldCount_ = 0; }

    // The bytes from the block before that the next scan puts first.
    std::span<const std::uint8_t> heldTail() const { return {held_.data(), heldCount_}; }

    // Heap kept for joining a held tail to the next block: the largest such block so far.
    std::size_t MemoryBytes() const { return joined_.capacity(); }

private:
    std::array<std::uint8_t, 2> held_{};
    std::size_t heldCount_ = 0;
    std::vector<std::uint8_t> joined_;
};

// The protocol log's received line(s) for a position: the code's line, the power-up's two lines,
// the escrow line, or none. emit(const std::string&) is called for each.
template <typename Emit>
void ForEachReceivedLine(const ScannedByte& s, Emit&& emit) {
    switch (s.kind) {
        case Scanned::PowerUp:
            emit(wire::ReceivedLine(wire::kPowerUpLead));
            emit(wire::ReceivedLine(wire::kMessageSecond));
            break;
        case Scanned::Escrow:
            emit(wire::EscrowLine(s.channelByte));
            break;
        case Scanned::Stacked:
        case Scanned::Returned:
        case Scanned::LoggedOnly:
        case Scanned::Status:
        case Scanned::AckRequest:
            emit(wire::ReceivedLine(s.byte));
            break;
        case Scanned::Ignored:
        case Scanned::MessagePart:
            break;
    }
}

template <typename Visit>
void MessageScanner::Scan(std::span<const std::uint8_t> block, Visit&& visit) {
    if (block.empty()) return;
    std::span<const std::uint8_t> bytes = block;
    if (heldCount_ > 0) {
        joined_.assign(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(heldCount_));
        joined_.insert(joined_.end(), block.begin(), block.end());
        bytes = joined_;
        heldCount_ = 0;
    }
    const std::size_t n = bytes.size();
    std::size_t end = n;
    if (n >= 2 && bytes[n - 2] == wire::kEscrowLead && bytes[n - 1] == wire::kMessageSecond) {
        end = n - 2;
    } else if (bytes[n - 1] == wire::kPowerUpLead || bytes[n - 1] == wire::kEscrowLead) {
        end = n - 1;
    }
    std::size_t messageEnd = 0;  // the first position after the last message seen
    ScannedByte s;
    for (std::size_t i = 0; i < end; ++i) {
        const std::uint8_t b = bytes[i];
        s.byte = b;
        s.channelByte = 0;
        s.position = i;
        s.at = bytes.data() + i;
        const bool secondIs8F = i + 1 < n && bytes[i + 1] == wire::kMessageSecond;
        const Scanned leftOver = i >= messageEnd ? Scanned::Ignored : Scanned::MessagePart;
        switch (wire::Classify(b)) {
            case wire::ByteKind::Stacked:
                s.kind = Scanned::Stacked;
                break;
            case wire::ByteKind::Returned:
                s.kind = Scanned::Returned;
                break;
            case wire::ByteKind::LoggedOnly:
                s.kind = Scanned::LoggedOnly;
                break;
            case wire::ByteKind::Status:
                s.kind = Scanned::Status;
                break;
            case wire::ByteKind::AckRequest:
                s.kind = Scanned::AckRequest;
                break;
            case wire::ByteKind::PowerUpLead:
                s.kind = secondIs8F ? Scanned::PowerUp : leftOver;
                if (secondIs8F) messageEnd = i + 2;
                break;
            case wire::ByteKind::EscrowLead:
                if (secondIs8F && i + 2 < n) {
                    s.kind = Scanned::Escrow;
                    s.channelByte = bytes[i + 2];
                    messageEnd = i + 3;
                } else {
                    s.kind = leftOver;
                }
                break;
            case wire::ByteKind::Ignored:
                s.kind = leftOver;
                break;
        }
        visit(static_cast<const ScannedByte&>(s));
    }
    heldCount_ = n - end;
    for (std::size_t k = 0; k < heldCount_; ++k)
        held_[k] = bytes[end + k];
}

}  // namespace norva
