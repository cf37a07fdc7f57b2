#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "capture/capture_format.h"
#include "tools/acceptor-sim/console.h"

namespace norva::sim {

class SerialLine;
class TapLinks;

// What a capture asks of a replay, read in order as the replay goes, so that a capture of any
// size is played holding one block and the answers expected to it: the host bytes expected
// before the first block, then each block with its gap and the host bytes expected after it.
// Recorded polls are counted, never expected.
class ReplayFeed {
public:
    explicit ReplayFeed(CaptureReader reader) : reader_(std::move(reader)) {}

    struct Totals {
        std::size_t blocks = 0;
        std::size_t answers = 0;
        std::size_t recordedPolls = 0;
    };
    // Reads the whole capture once, every line checked, and goes back to its start; the steps
    // that follow stop after the blocks counted here.
    Result<Totals> Check();

    struct Block {
        std::vector<std::uint8_t> bytes;
        std::int64_t gapMicros = 0;  // since the block before; the first block's is 0
    };
    struct Step {
        std::vector<std::uint8_t> answers;  // expected from the host before the block
        std::optional<Block> block;         // none after the last block
        std::int64_t lastAnswerMicros = 0;  // with no block: last block to the last answer
    };
    Result<Step> Next();

private:
    CaptureReader reader_;
    std::size_t blockLimit_ = 0;
    std::size_t blocksGiven_ = 0;
    std::int64_t lastBlockAt_ = 0;
};

struct ReplaySetup {
    int lineFd = -1;  // non-blocking
    bool lineIsPty = true;
    SerialLine* line = nullptr;  // to learn whether a host ever opened it; may be none
    int outFd = 1;
    int errFd = 2;
    int stopFd = -1;
    double speed = 1.0;
    TapLinks* taps = nullptr;
    ReplayFeed::Totals totals;  // from feed's Check()
};

// Plays a capture on the line from one poll() loop and judges the host's bytes as they come.
class Replayer {
public:
    using Clock = std::chrono::steady_clock;

    Replayer(ReplaySetup setup, ReplayFeed feed);
    // Runs to the end and returns the exit status.
    int Run();

private:
    bool AnswersIn() const { return answered_ >= expected_.size(); }
    bool Load();
    void CloseGroup();
    void PlayNext();
    void HandleHostBytes();
    void Judge(std::uint8_t byte);
    int Finish(int code, bool early);
    Clock::duration Scaled(std::int64_t micros) const;

    ReplaySetup setup_;
    ReplayFeed feed_;
    Console console_;
    // The answers expected to the block played last (before the first block: to none), and
    // the block to play next.
    std::vector<std::uint8_t> expected_;
    std::optional<ReplayFeed::Block> next_;
    std::int64_t lastAnswerMicros_ = 0;
    std::size_t expectedSoFar_ = 0;  // answers in every group loaded so far
    std::optional<Outcome> unreadable_;
    Clock::time_point lastPlay_;
    Clock::time_point lastHostByte_;
    Clock::time_point lineResumeAt_;
    std::size_t answered_ = 0;  // bytes of the expected group seen so far
    std::size_t matched_ = 0;
    std::size_t differed_ = 0;
    std::size_t hostPolls_ = 0;
    std::size_t undelivered_ = 0;  // blocks the line did not take whole
    bool stopRequested_ = false;
    bool lineLost_ = false;
};

}  // namespace norva::sim
