#include "link/block_inbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <chrono>

namespace norva {

BlockInbox::BlockInbox(std::size_t capacityBytes)
    : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), capacityBytes_(capacityBytes) {}

// Under the mutex, so that the descriptor's state always matches the queue's.
void BlockInbox::SetAwake(bool awake) {
    if (!wake_.valid()) return;
    std::uint64_t count = 1;
    if (awake)
        (void)!::write(wake_.get(), &count, sizeof count);
    else
        (void)!::read(wake_.get(), &count, sizeof count);
}

void BlockInbox::Push(Block block, const std::atomic<bool>& giveUp) {
    std::unique_lock lock(mutex_);
    // The stop flag has no way to notify this variable, so look at it now and then.
    while (pendingBytes_ >= capacityBytes_ && !giveUp) {
        drained_.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (blocks_.empty()) SetAwake(true);
    pendingBytes_ += block.bytes.size();
    blocks_.push_back(std::move(block));
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
        if (!taken.empty() && blocks_.empty()) SetAwake(false);
    }
    drained_.notify_all();
    return taken;
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
