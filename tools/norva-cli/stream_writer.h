#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "base/result.h"

namespace norva::cli {

// Writes text to a descriptor from a thread of its own, so a reader that stops reading (a
// paused pager) never holds up the caller. What does not fit in the buffer (the bytes waiting
// and those of the batch being written, together at most maxWaitingBytes) is dropped and its
// lines counted. A write that fails (EPIPE, ENOSPC, EBADF) ends the stream; the failure is
// reported once, on the writer's thread.
class StreamWriter {
public:
    // name: "standard output", for the failure's text.
    StreamWriter(int fd, std::string name, std::size_t maxWaitingBytes,
                 std::function<void(const Outcome&)> onFailure = {});
    // Stops at once: what is still waiting is not written.
    ~StreamWriter();
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    // Queues whole lines; false (the lines counted as dropped) when the buffer is full or the
    // stream has failed.
    bool Write(std::string_view lines);
    // Queues beyond the buffer's bound: the summary is never dropped for want of room.
    void WriteAlways(std::string_view text);
    // A stream known to be unusable from the start (a closed descriptor).
    void MarkFailed(const Outcome& failure);
    // Waits while the descriptor keeps taking bytes. True once all is written; false when the
    // stream failed or took nothing for `patience`, in which case its thread is left blocked
    // until the process ends.
    bool Finish(std::chrono::milliseconds patience);

    std::uint64_t droppedLines() const;
    Outcome failure() const;

private:
    struct State;
    void Queue(std::string_view text, bool bounded);
    static void Run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace norva::cli
