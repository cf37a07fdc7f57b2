// The order of a tap's two inputs fed any reads at any times, through the tap's session: every
// byte comes out once and in its input's order, nothing is moved against its times, and every
// uncertain pair is told and lies within the bound.
#include <cstdint>
#include <deque>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/tap_order.h"
#include "tools/norva-cli/tap_session.h"

using namespace norva;

namespace {

constexpr std::int64_t kQuiet = 50'000;
constexpr std::int64_t kBound = 20'000;

// Checks what comes out, and hands it on to a tap's session.
struct Checker : TapOrder::Sink {
    explicit Checker(TapOrder::Sink& next) : next(next) {}
    void OrderUncertain(const UncertainOrder& pair) override {
        ++pairs;
        Check(pair.margin >= 0 && pair.margin < kBound, "pair beyond the bound");
        next.OrderUncertain(pair);
    }
    void Block(const TapBlock& block) override {
        Check(!block.bytes.empty() && block.bytes.size() <= 4999, "block size");
        Check(block.first <= block.last && block.first >= lastBlockFirst, "block out of time");
        // A host byte stands before a block only while the bench could still be reading it.
        Check(lastHostTime < block.last + kQuiet, "block after a host byte of its quiet end");
        for (const std::uint8_t b : block.bytes) {
            Check(!device.empty() && device.front() == b, "acceptor's byte lost or reordered");
            device.pop_front();
        }
        lastBlockFirst = block.first;
        lastBlockLast = block.last;
        next.Block(block);
    }
    void HostByte(std::int64_t time, std::uint8_t byte, bool uncertain) override {
        Check(!host.empty() && host.front() == byte, "host's byte lost or reordered");
        host.pop_front();
        Check(time >= lastHostTime && time >= lastBlockLast, "host byte before its time");
        lastHostTime = time;
        next.HostByte(time, byte, uncertain);
    }
    void LineChanged(TapSide side, bool gone, std::int64_t time) override {
        next.LineChanged(side, gone, time);
    }
    TapOrder::Sink& next;
    std::deque<std::uint8_t> device, host;
    std::uint64_t pairs = 0;
    std::int64_t lastBlockFirst = 0, lastBlockLast = 0, lastHostTime = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cli::TapSession::Setup setup;
    std::uint64_t lines = 0;
    setup.printLine = [&](std::string_view) { ++lines; };
    setup.printNotice = [](std::string_view) {};
    setup.timestamps = size % 2 == 0;
    cli::TapSession session(setup);
    session.SetCapture(nullptr, [](std::string_view) {});
    Checker checker(session);
    TapOrder order({kQuiet, kBound, 4999}, checker);
    session.Start(0, kBound);
    // Each record: a control byte (side, a line change, how much later, whether to advance),
    // a length, then the bytes read.
    std::int64_t now = 1'000'000;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t control = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        at += 2;
        const TapSide side = control & 1 ? TapSide::Host : TapSide::Device;
        now += std::int64_t{(control >> 2) & 0x0F} * (control & 0x40 ? 4'000 : 150);
        if (control & 2) {
            order.LineChanged(side, (control & 0x80) != 0, now);
        } else if (length > 0) {
            order.Read(side, now, {data + at, length});
            auto& expected = side == TapSide::Host ? checker.host : checker.device;
            expected.insert(expected.end(), data + at, data + at + length);
        }
        at += length;
        if (control & 0x80) order.Advance(now - (control & 0x20 ? kBound : 0));
    }
    order.Finish();
    session.Finish(now);
    Check(checker.device.empty() && checker.host.empty(), "bytes never came out");
    Check(checker.pairs == order.uncertainPairs() && checker.pairs == session.uncertainPairs(),
          "pairs miscounted");
    return 0;
}
