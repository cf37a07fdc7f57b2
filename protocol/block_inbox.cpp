#include "protocol/block_inbox.h"

#include <array>
#include <chrono>

namespace norva {

BlockInbox::BlockInbox(std::function<void()> wake, std::size_t capacityBytes)
    : wake_(std::move(wake)), capacityBytes_(capacityBytes) {}

void BlockInbox::Push(Block block, const std::atomic<bool>& giveUp) {
    bool wasEmpty = false;
    {
        std::unique_lock lock(mutex_);
        // The stop flag has no way to notify this variable, so look at it now and then.
        while (pendingBytes_ >= capacityBytes_ && !giveUp) {
            drained_.wait_for(lock, std::chrono::milliseconds(20));
        }
        wasEmpty = blocks_.empty();
        pendingBytes_ += block.bytes.size();
        blocks_.push_back(std::move(block));
    }
    if (wasEmpty) wake_();
}

std::vector<Block> BlockInbox::Take(std::size_t maxBytes) {
    std::vector<Block> taken;
    {
        std::lock_guard lock(mutex_);
        std::size_t bytes = 0;
        while (!blocks_.empty() && bytes < maxBytes) {
            bytes += blocks_.front().bytes.size();
            pendingBytes_ -= blocks_.front().bytes.size();
            taken.push_back(std::move(blocks_.front()));
            blocks_.pop_front();
        }
    }
    drained_.notify_all();
    return taken;
}

bool BlockInbox::Empty() {
    std::lock_guard lock(mutex_);
    return blocks_.empty();
}

void ReceiveBlock(const ReceivePass& pass, BlockInbox& inbox) {
    std::array<std::uint8_t, kBlockSize> buffer;
    const BlockRead read =
        ReadBlockUntilStop(&pass.port, buffer.data(), buffer.size(), pass.stopEvent);
    if (read.count == 0) return;
    Block block;
    block.bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(read.count));
    block.firstByteUnixMicros = read.firstByteUnixMicros;
    block.lastByteUnixMicros = read.lastByteUnixMicros;
    inbox.Push(std::move(block), pass.stopRequested);
}

}  // namespace norva
