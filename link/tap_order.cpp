#include "link/tap_order.h"

#include <algorithm>
#include <limits>

#include "protocol/wire.h"

namespace norva {

TapOrder::TapOrder(Setup setup, Sink& sink) : setup_(setup), sink_(sink) {}

void TapOrder::Read(TapSide side, std::int64_t time, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    incoming_.push_back({side, time, {bytes.begin(), bytes.end()}, 0});
}

void TapOrder::LineChanged(TapSide side, bool gone, std::int64_t time) {
    incoming_.push_back({side, time, {}, gone ? 1 : 2});
}

void TapOrder::Advance(std::int64_t heardThrough) {
    // One input's reads keep their order; at equal times the acceptor's go first, so that an
    // answer read in the same pass as the block it answers follows it.
    std::stable_sort(incoming_.begin(), incoming_.end(), [](const Incoming& a, const Incoming& b) {
        const int ra = a.side == TapSide::Device ? 0 : 1, rb = b.side == TapSide::Device ? 0 : 1;
        return a.time < b.time || (a.time == b.time && ra < rb);
    });
    std::size_t n = 0;
    while (n < incoming_.size() && incoming_[n].time < heardThrough)
        Process(incoming_[n++]);
    incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(n));
    if (open_.open && open_.last + setup_.quietMicros <= heardThrough) SettleByQuiet();
    HandOut(heardThrough);
}

std::optional<std::int64_t> TapOrder::NextDue() const {
    std::optional<std::int64_t> due;
    const auto consider = [&](std::int64_t t) { due = due ? std::min(*due, t) : t; };
    // Settling the block at the end of its quiet gap hands out nothing yet.
    if (open_.open) consider(open_.last + setup_.quietMicros + setup_.boundMicros);
    if (!items_.empty()) consider(items_.front().due);
    for (const Incoming& in : incoming_)
        consider(in.time + 1);
    return due;
}

void TapOrder::Finish() {
    Advance(std::numeric_limits<std::int64_t>::max());
}

void TapOrder::Process(const Incoming& in) {
    if (open_.open && in.time >= open_.last + setup_.quietMicros) SettleByQuiet();
    if (in.change != 0) {
        if (in.side == TapSide::Device) {
            // A device that starts afresh finishes nothing of what it sent before.
            if (open_.open) SettleBlock(in.time, End::Other);
            settled_ = {};
            scanner_.DropHeldTail();
        }
        Item line{Item::Kind::Line};
        line.first = line.last = line.due = in.time;
        line.side = in.side;
        line.gone = in.change == 1;
        Push(std::move(line));
        return;
    }
    if (in.side == TapSide::Device)
        DeviceBytes(in.time, in.bytes);
    else
        HostBytes(in.time, in.bytes);
}

void TapOrder::DeviceBytes(std::int64_t time, std::span<const std::uint8_t> bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (!open_.open) {
            open_ = {};
            open_.open = true;
            open_.first = time;
            // Right after the answer that ended the block before, these bytes may have been
            // the end of that block.
            if (settled_.valid && settled_.end == End::Answer &&
                time - settled_.answerTime < setup_.boundMicros) {
                if (Item* answer = ItemAt(settled_.answerItem)) {
                    Pair(*answer, {true, settled_.answerTime, settled_.answerByte, time, time,
                                   time - settled_.answerTime});
                    answer->uncertain = true;
                    open_.uncertainBefore = true;
                }
            }
            settled_ = {};
        }
        open_.last = time;
        const std::size_t take = std::min(bytes.size() - at, setup_.maxBlock - open_.bytes.size());
        const std::span<const std::uint8_t> piece = bytes.subspan(at, take);
        const std::size_t base = open_.bytes.size();
        const std::size_t held = scanner_.heldTail().size();
        open_.bytes.insert(open_.bytes.end(), piece.begin(), piece.end());
        scanner_.Scan(piece, [this, base, held](const ScannedByte& s) {
            std::size_t length = 0;
            if (s.kind == Scanned::PowerUp) {
                length = 2;
                open_.asksAccept = true;
            } else if (s.kind == Scanned::AckRequest) {
                length = 1;
                open_.asksAccept = true;
            } else if (s.kind == Scanned::Escrow) {
                length = 3;
                open_.asksAccept = open_.asksReject = true;
            }
            if (length != 0) open_.askEnd = base + std::max(s.position + length, held) - held;
        });
        at += take;
        if (open_.bytes.size() >= setup_.maxBlock) SettleBlock(time, End::Other);
    }
}

void TapOrder::HostBytes(std::int64_t time, std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        Item host{Item::Kind::Host};
        host.first = host.last = time;
        host.due = time + setup_.boundMicros;
        host.byte = byte;
        const auto answers = [byte](bool asksAccept, bool asksReject) {
            return (byte == wire::kAccept && asksAccept) || (byte == wire::kReject && asksReject);
        };
        if (open_.open && answers(open_.asksAccept, open_.asksReject)) {
            const std::int64_t margin = time - open_.last;
            // An answer cannot come before the message it answers: only bytes after that
            // message may have come after the answer.
            const bool tailAfterMessage = open_.bytes.size() > open_.askEnd;
            SettleBlock(time, End::Answer);
            Item& block = items_.back();
            if (tailAfterMessage && margin < setup_.boundMicros) {
                Pair(block, {false, time, byte, block.first, block.last, margin});
                block.uncertainAfter = true;
                host.uncertain = true;
            }
            Push(std::move(host));
            settled_.answered = true;
            settled_.answerItem = handedOut_ + items_.size() - 1;
            settled_.answerTime = time;
            settled_.answerByte = byte;
            continue;
        }
        if (!open_.open && settled_.valid && settled_.end == End::Quiet && !settled_.answered) {
            // Until the host answers the block, its own bytes just after the quiet gap might
            // have gone out while the bench was still reading.
            if (answers(settled_.asksAccept, settled_.asksReject)) {
                settled_.answered = true;
            } else if (time - settled_.key < setup_.boundMicros) {
                if (Item* block = ItemAt(settled_.item)) {
                    Pair(*block,
                         {false, time, byte, block->first, block->last, time - settled_.key});
                    block->uncertainAfter = true;
                    host.uncertain = true;
                }
            }
        }
        Push(std::move(host));
    }
}

void TapOrder::SettleByQuiet() {
    const std::int64_t key = open_.last + setup_.quietMicros;
    // The host's bytes just before the end of the quiet gap might have come after it.
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        if (it->kind != Item::Kind::Host || it->first < open_.first ||
            key - it->first >= setup_.boundMicros) {
            break;
        }
        Pair(*it, {true, it->first, it->byte, open_.first, open_.last, key - it->first});
        it->uncertain = true;
        open_.uncertainBefore = true;
    }
    SettleBlock(key, End::Quiet);
}

void TapOrder::SettleBlock(std::int64_t key, End end) {
    Item block{Item::Kind::Block};
    block.first = open_.first;
    block.last = open_.last;
    block.due = key + setup_.boundMicros;
    block.bytes = std::move(open_.bytes);
    block.uncertain = open_.uncertainBefore;
    Push(std::move(block));
    settled_ = {};
    settled_.valid = true;
    settled_.end = end;
    settled_.asksAccept = open_.asksAccept;
    settled_.asksReject = open_.asksReject;
    settled_.key = key;
    settled_.item = handedOut_ + items_.size() - 1;
    open_ = {};
}

TapOrder::Item& TapOrder::Push(Item item) {
    items_.push_back(std::move(item));
    return items_.back();
}

TapOrder::Item* TapOrder::ItemAt(std::uint64_t index) {
    if (index < handedOut_ || index - handedOut_ >= items_.size()) return nullptr;
    return &items_[static_cast<std::size_t>(index - handedOut_)];
}

void TapOrder::Pair(Item& first, const UncertainOrder& pair) {
    first.pairs.push_back(pair);
    ++uncertainPairs_;
}

void TapOrder::HandOut(std::int64_t upTo) {
    while (!items_.empty() && items_.front().due <= upTo) {
        const Item item = std::move(items_.front());
        items_.pop_front();
        ++handedOut_;
        for (const UncertainOrder& pair : item.pairs)
            sink_.OrderUncertain(pair);
        switch (item.kind) {
            case Item::Kind::Block:
                sink_.Block(
                    {item.first, item.last, item.bytes, item.uncertain, item.uncertainAfter});
                break;
            case Item::Kind::Host:
                sink_.HostByte(item.first, item.byte, item.uncertain);
                break;
            case Item::Kind::Line:
                sink_.LineChanged(item.side, item.gone, item.first);
                break;
        }
    }
}

}  // namespace norva
