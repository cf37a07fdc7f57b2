#pragma once

// The order of a tap's two inputs: the reads of the host's line and of the acceptor's line, each
// timed on one clock at the read's first byte, merged into the traffic the bench's window would
// have seen had it been the host, and every pair whose order the inputs cannot vouch for marked.
//
// Blocks. The acceptor's bytes form blocks as the bench reads them: a block ends when its line
// has been quiet for the read's quiet gap (kQuietMs), or at kBlockSize bytes. It also ends where
// the host evidently had it: at the host's first answer to a message in it (0x02 to a power-up,
// 0xA1 or an escrow message, 0x0F to an escrow message), when that comes before the quiet gap
// is over, as it does from a controller that reads faster than the bench.
//
// Order. A block stands where the host had it: at the end of its quiet gap, or at that answer.
// A host byte timed before that point stands before the block's lines, as the window's polls and
// clicks do while the bench still reads the block, and one timed from that point on after them.
// That is the window's order; it differs from the order on the wire only for host bytes that
// went out while a block was coming or in its quiet gap, which the times still show.
//
// Uncertain order. Each input's times run late by up to what its hardware holds back (a USB
// adapter's latency timer, a UART's receive timeout) and by when the reading thread woke, so two
// times closer than the bound may stand in either order on the wire. The tap never moves a byte
// against its times; it marks each pair of a host byte and a block that lies closer than the
// bound to the point where their order would flip:
//   - a host byte just before or just after the end of a block's quiet gap (before an answer to
//     the block settled that the host had it);
//   - an answer just after the block's last byte, when bytes came after the message it answers
//     (they may have come after the answer; the message itself cannot have);
//   - the first read of a block just after the answer that ended the block before it (it may
//     have been part of that block).
// Two bytes of one input are never reordered: they come in one stream.
//
// Everything is handed out in order, a bound after its place is settled, since a byte read
// later may still turn out to pair with it. Plain C++, on one thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "protocol/message_scanner.h"

namespace norva {

enum class TapSide : std::uint8_t { Host, Device };

// A pair put in an order its times do not prove.
struct UncertainOrder {
    bool hostFirst = false;  // the order the tap kept
    std::int64_t hostTime = 0;
    std::uint8_t hostByte = 0;
    std::int64_t blockFirst = 0;
    std::int64_t blockLast = 0;
    // How far the host byte lay from the point where the order flips, at most the bound.
    std::int64_t margin = 0;
};

struct TapBlock {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::span<const std::uint8_t> bytes;
    // A member of an uncertain pair whose other member stands just before, or just after it.
    bool uncertainBefore = false;
    bool uncertainAfter = false;
};

class TapOrder {
public:
    struct Setup {
        std::int64_t quietMicros = 50'000;
        std::int64_t boundMicros = 2'000;
        std::size_t maxBlock = 4999;
    };

    // What comes out, in order.
    class Sink {
    public:
        virtual ~Sink() = default;
        // Just before the first member of the pair.
        virtual void OrderUncertain(const UncertainOrder& pair) = 0;
        virtual void Block(const TapBlock& block) = 0;
        virtual void HostByte(std::int64_t time, std::uint8_t byte, bool uncertain) = 0;
        // An input went away or came back (time of the read pass that saw it).
        virtual void LineChanged(TapSide side, bool gone, std::int64_t time) = 0;
    };

    TapOrder(Setup setup, Sink& sink);

    // A read of one input, or an input gone or back. Each input in its own time order; the two
    // inputs in any order relative to each other, as long as Advance has not passed them.
    void Read(TapSide side, std::int64_t time, std::span<const std::uint8_t> bytes);
    void LineChanged(TapSide side, bool gone, std::int64_t time);

    // No read timed before heardThrough is still to come: settle what that allows and hand out
    // what is settled.
    void Advance(std::int64_t heardThrough);
    // When Advance would next hand out something without a new read; none when nothing waits.
    std::optional<std::int64_t> NextDue() const;
    // The end: everything read is settled and handed out.
    void Finish();

    std::uint64_t uncertainPairs() const { return uncertainPairs_; }
    std::int64_t boundMicros() const { return setup_.boundMicros; }

private:
    struct Incoming {
        TapSide side;
        std::int64_t time;
        std::vector<std::uint8_t> bytes;
        int change;  // 0 a read, 1 gone, 2 back
    };
    struct Item {
        enum class Kind : std::uint8_t { Block, Host, Line };
        explicit Item(Kind k) : kind(k) {}
        Kind kind;
        std::int64_t first = 0, last = 0;  // a host byte or a line change: both its time
        std::int64_t due = 0;
        std::vector<std::uint8_t> bytes;  // a block's
        std::uint8_t byte = 0;
        TapSide side = TapSide::Host;
        bool gone = false;
        bool uncertain = false, uncertainAfter = false;
        std::vector<UncertainOrder> pairs;  // told before this item
    };
    struct OpenBlock {
        bool open = false;
        std::int64_t first = 0, last = 0;
        std::vector<std::uint8_t> bytes;
        bool asksAccept = false;  // a power-up, 0xA1 or an escrow message: 0x02 answers
        bool asksReject = false;  // an escrow message: 0x0F answers
        std::size_t askEnd = 0;   // where the last message that asks ends in the block
        bool uncertainBefore = false;
    };
    enum class End : std::uint8_t { Quiet, Answer, Other };
    // The block settled last, while no other has begun.
    struct Settled {
        bool valid = false;
        End end = End::Other;
        bool answered = false;
        bool asksAccept = false, asksReject = false;
        std::int64_t key = 0;
        std::uint64_t item = 0;        // its index among the items ever made
        std::uint64_t answerItem = 0;  // End::Answer: the answer's
        std::int64_t answerTime = 0;
        std::uint8_t answerByte = 0;
    };

    void Process(const Incoming& in);
    void DeviceBytes(std::int64_t time, std::span<const std::uint8_t> bytes);
    void HostBytes(std::int64_t time, std::span<const std::uint8_t> bytes);
    void SettleByQuiet();
    void SettleBlock(std::int64_t key, End end);
    Item& Push(Item item);
    Item* ItemAt(std::uint64_t index);
    void Pair(Item& first, const UncertainOrder& pair);
    void HandOut(std::int64_t upTo);

    Setup setup_;
    Sink& sink_;
    std::vector<Incoming> incoming_;
    std::deque<Item> items_;
    std::uint64_t handedOut_ = 0;  // items ever handed out: the index of items_.front()
    OpenBlock open_;
    Settled settled_;
    MessageScanner scanner_;
    std::uint64_t uncertainPairs_ = 0;
};

}  // namespace norva
