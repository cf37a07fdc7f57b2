#pragma once

#include <string>

namespace norva::bench {

// The simulator replaying a day's capture, measured as a process of its own from outside: how
// long until the host sees the first block, and how much memory it holds.
struct ReplayFigures {
    double captureMegabytes = 0;
    double firstBlockMs = 0;       // from the start of the process to the host's first byte
    double peakResidentMb = 0;     // largest resident size up to the first block
    double playingResidentMb = 0;  // largest resident size after 3 s of playing
};

// simulator: the executable to measure; lines: of the capture, alternately a poll and its answer.
ReplayFigures MeasureReplay(const std::string& simulator, long lines);

}  // namespace norva::bench
