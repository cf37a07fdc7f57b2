#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace norva::cli {

// What a run did, as the summary on exit reports it.
struct SessionSummary {
    // Notes stacked, by the channel of the escrow message before them; index 0 counts a stack
    // that no escrow message announced.
    std::array<std::uint64_t, 17> stacked{};
    std::int32_t credit = 0;  // as the credit display holds it
    std::uint64_t refusedUnticked = 0;
    std::uint64_t refusedNotANumber = 0;
    std::uint64_t returned = 0;
    std::uint64_t rejectedByPolicy = 0;
    std::map<std::uint8_t, std::uint64_t> statusCodes;
    std::uint64_t powerUps = 0;
    std::uint64_t bytesIgnored = 0;
    std::vector<double> answerLatencyMs;  // block end to answer, one per answer
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

    std::uint64_t StackedTotal() const;

    std::string Text() const;
    std::string Json() const;
};

// The q-quantile (0..1) of the samples by the nearest-rank rule; 0 for none.
double Quantile(std::vector<double> samples, double q);

}  // namespace norva::cli
