#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_format.h"
#include "tools/acceptor-sim/console.h"

namespace norva::sim {

inline constexpr std::uint8_t kPollByte = 0x0C;

// What a capture asks of a replay: the blocks to write with their gaps, and the host bytes
// expected after each. expected[0] holds what the host sent before the first block;
// expected[k] what it sent after block k-1, polls left out.
struct ReplayPlan {
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::int64_t gapMicros = 0;  // since the block before; the first block's is 0
    };
    std::vector<Block> blocks;
    std::vector<std::vector<std::uint8_t>> expected;  // blocks.size() + 1 groups
    std::int64_t lastAnswerMicros = 0;  // from the last block to the last byte sent after it
    std::size_t recordedPolls = 0;
};

ReplayPlan PlanReplay(const std::vector<CaptureEvent>& events);

struct ReplaySetup {
    int lineFd = -1;  // non-blocking
    bool lineIsPty = true;
    int outFd = 1;
    int errFd = 2;
    int stopFd = -1;
    double speed = 1.0;
    ReplayPlan plan;
};

// Plays a plan on the line from one poll() loop and judges the host's bytes as they come.
class Replayer {
public:
    using Clock = std::chrono::steady_clock;

    explicit Replayer(ReplaySetup setup);
    // Runs to the end and returns the exit status.
    int Run();

    std::size_t matched() const { return matched_; }
    std::size_t differed() const { return differed_; }

private:
    bool AnswersIn() const;
    void CloseGroup();
    void PlayNext();
    void HandleHostBytes();
    void Judge(std::uint8_t byte);
    int Finish(int code, bool early);
    Clock::duration Scaled(std::int64_t micros) const;

    ReplaySetup setup_;
    Console console_;
    Clock::time_point lastPlay_;
    Clock::time_point lastHostByte_;
    Clock::time_point lineResumeAt_;
    std::size_t played_ = 0;    // blocks written; also the group now being answered
    std::size_t answered_ = 0;  // bytes of that group seen so far
    std::size_t matched_ = 0;
    std::size_t differed_ = 0;
    std::size_t hostPolls_ = 0;
    bool lineLost_ = false;
};

}  // namespace norva::sim
