#pragma once

#include <cstdint>
#include <vector>

namespace norva::bench {

// How well the tap's two inputs order what they hear, on pseudo-terminals: pairs of one byte
// written to each line at a known gap (either line first, gaps of 0 to 10 ms), read by the tap's
// own inputs.
struct TapOrderFigures {
    std::uint64_t pairs = 0;
    std::uint64_t inverted = 0;  // the later byte timed before the earlier one
    std::uint64_t tied = 0;      // both timed alike: read in one pass
    std::int64_t widestTiedGapMicros = 0;
    // How late each read was timed after its byte was written.
    double lateP50Ms = 0, lateP99Ms = 0, lateP999Ms = 0, lateMaxMs = 0;
};

TapOrderFigures MeasureTapOrder(int rounds);

// The tap's processor time against norva-cli's own for the same traffic: the simulator soaking
// at 2 notes a second on its simulated Y-cable, norva-cli as the host taking every note, the
// tap listening, all three processes of their own, for `seconds` once both are under way.
struct TapSoakFigures {
    double seconds = 0;
    double tapCpuMs = 0;
    double hostCpuMs = 0;
    long notesSeenByTap = 0;  // from the tap's summary: traffic flowed
};

TapSoakFigures MeasureTapSoak(int seconds);

}  // namespace norva::bench
