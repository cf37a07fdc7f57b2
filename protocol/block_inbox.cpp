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
        pendingBytes_ += block.size();
        blocks_.push_back(std::move(block));
    }
    if (wasEmpty) wake_();
}

std::vector<Block> BlockInbox::TakeAll() {
    std::vector<Block> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(blocks_);
        pendingBytes_ = 0;
    }
    drained_.notify_all();
    return taken;
}

void ReceiveBlock(PortHandle& port, BlockInbox& inbox, const std::atomic<bool>& stopRequested) {
    std::array<std::uint8_t, kBlockSize> buffer;
    const std::size_t n = ReadBlock(&port, buffer.data(), buffer.size());
    if (n == 0) return;
    inbox.Push(Block(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n)),
               stopRequested);
}

}  // namespace norva
