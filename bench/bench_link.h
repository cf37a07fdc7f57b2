#pragma once

#include <vector>

namespace norva::bench {

// The serial link's figures, measured in this process on pseudo-terminals with the engine
// answering on this thread's event loop, as in the program.
struct LinkFigures {
    std::vector<double> reappearToAnswerMs;  // device path back -> 0x02 for its power-up
    double portChangeMs = 0;                 // a port change under a line that never goes quiet
    double closeMs = 0;                      // closing under the same line
    double waitingCpuPercent = 0;            // of one core, while a pulled device is waited for
};

LinkFigures MeasureLink(int trials, int idleSeconds);

}  // namespace norva::bench
