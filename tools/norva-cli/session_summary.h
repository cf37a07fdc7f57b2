#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "capture/traffic_reading.h"

namespace norva::cli {

// What a run did, as the summary on exit reports it: the reading's tallies of the traffic, and
// the run's own figures.
struct SessionSummary {
    explicit SessionSummary(const TrafficTallies& t) : tallies(t) {}

    const TrafficTallies& tallies;
    double secondsRun = 0;
    std::string stopReason;          // "notes", "seconds", "signal", "silence", "port lost"
    std::uint64_t linesDropped = 0;  // log lines standard output did not take in time
    // With --capture: the file, how often it was started again, and the failure that stopped it.
    struct Capture {
        std::string file;
        std::uint64_t restarts = 0;
        std::string error;  // empty while all went well
    };
    std::optional<Capture> capture;
    // A tap's run: what only a tap sees. Without it the reading knew the host's settings.
    struct Tap {
        std::uint64_t uncertainPairs = 0;
        std::int64_t boundMicros = 0;
    };
    std::optional<Tap> tap;

    std::string Text() const;
    std::string Json() const;
};

}  // namespace norva::cli
