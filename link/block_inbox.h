#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

#include "base/unique_fd.h"
#include "serial/rs232.h"

namespace norva {

// What the line did besides delivering bytes, kept in order with the bytes.
enum class LineEvent { None, Gone, Back };

// One read's bytes, timed at the arrival of the first of them (microseconds since the Unix
// epoch), or a bare line event without bytes.
struct Block {
    std::vector<std::uint8_t> bytes;
    std::int64_t firstByteUnixMicros = 0;
    LineEvent event = LineEvent::None;
    std::int64_t lastByteUnixMicros = 0;
};

// Blocks read on the receive thread wait here until the link's thread takes them. The wake
// descriptor is readable exactly while blocks wait, so that thread's event loop watches it and
// nothing but the blocks, behind the mutex, passes from one thread to the other. -1 when the
// system gave no descriptor: the taker must then look now and then.
class BlockInbox {
public:
    static constexpr std::size_t kDefaultCapacityBytes = 256 * 1024;

    explicit BlockInbox(std::size_t capacityBytes = kDefaultCapacityBytes);

    int wakeDescriptor() const { return wake_.get(); }

    // Adds a block. While the link's thread lags by more than the capacity the reader waits
    // here, which leaves further bytes in the driver; when giveUp turns true it stops waiting
    // and adds the block all the same, so no byte that was read is lost.
    void Push(Block block, const std::atomic<bool>& giveUp);

    // Takes blocks from the front until they hold at least maxBytes, or the inbox is empty; the
    // wake descriptor stays readable while any are left.
    std::vector<Block> Take(std::size_t maxBytes);
    std::vector<Block> TakeAll() { return Take(std::numeric_limits<std::size_t>::max()); }

private:
    void SetAwake(bool awake);

    UniqueFd wake_;
    const std::size_t capacityBytes_;
    std::mutex mutex_;
    std::condition_variable drained_;
    std::deque<Block> blocks_;
    std::size_t pendingBytes_ = 0;
};

// The largest block one read delivers.
inline constexpr std::size_t kBlockSize = 4999;

// Reads one block from the pass's port (up to kBlockSize bytes, ended by 50 ms of quiet or by a
// stop request) and hands it to the inbox. Runs on the receive thread.
void ReceiveBlock(const ReceivePass& pass, BlockInbox& inbox);

}  // namespace norva
