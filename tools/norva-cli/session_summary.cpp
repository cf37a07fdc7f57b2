#include "tools/norva-cli/session_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace norva::cli {

namespace {

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string Hex(std::uint8_t code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", code);
    return buffer;
}

struct Latency {
    double p50, p99, max;
};

Latency LatencyOf(const std::vector<double>& samples) {
    const double max = samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    return {Quantile(samples, 0.50), Quantile(samples, 0.99), max};
}

}  // namespace

double Quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(q * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

std::uint64_t SessionSummary::StackedTotal() const {
    std::uint64_t total = 0;
    for (const std::uint64_t n : stacked)
        total += n;
    return total;
}

std::string SessionSummary::Text() const {
    std::string t = "== summary\n";
    t += "stacked " + std::to_string(StackedTotal());
    for (std::size_t c = 1; c < stacked.size(); ++c) {
        if (stacked[c] != 0) t += "  ch" + std::to_string(c) + ":" + std::to_string(stacked[c]);
    }
    if (stacked[0] != 0) t += "  unannounced:" + std::to_string(stacked[0]);
    t += "\ncredit " + std::to_string(credit) + "\n";
    t += "refused " + std::to_string(refusedUnticked + refusedNotANumber) + " (unticked " +
         std::to_string(refusedUnticked) + ", not a number " + std::to_string(refusedNotANumber) +
         ")\n";
    t += "returned " + std::to_string(returned) + "\n";
    t += "rejected by policy " + std::to_string(rejectedByPolicy) + "\n";
    t += "status codes";
    if (statusCodes.empty()) t += " none";
    for (const auto& [code, count] : statusCodes)
        t += "  " + Hex(code) + ":" + std::to_string(count);
    t += "\npower-ups " + std::to_string(powerUps) + "\n";
    t += "bytes ignored " + std::to_string(bytesIgnored) + "\n";
    const Latency l = LatencyOf(answerLatencyMs);
    t += "answer latency ms p50 " + Fixed(l.p50, 3) + " p99 " + Fixed(l.p99, 3) + " max " +
         Fixed(l.max, 3) + " (" + std::to_string(answerLatencyMs.size()) + " answers)\n";
    t += "ran " + Fixed(secondsRun, 3) + " s, stopped by " + stopReason + "\n";
    return t;
}

std::string SessionSummary::Json() const {
    std::string j = "{\"stacked\":{\"total\":" + std::to_string(StackedTotal()) + ",\"channels\":{";
    bool first = true;
    for (std::size_t c = 1; c < stacked.size(); ++c) {
        if (stacked[c] == 0) continue;
        j += (first ? "\"" : ",\"") + std::to_string(c) + "\":" + std::to_string(stacked[c]);
        first = false;
    }
    j += "},\"unannounced\":" + std::to_string(stacked[0]) + "}";
    j += ",\"credit\":" + std::to_string(credit);
    j += ",\"refused\":{\"unticked\":" + std::to_string(refusedUnticked) +
         ",\"not_a_number\":" + std::to_string(refusedNotANumber) + "}";
    j += ",\"returned\":" + std::to_string(returned);
    j += ",\"rejected_by_policy\":" + std::to_string(rejectedByPolicy);
    j += ",\"status_codes\":{";
    first = true;
    for (const auto& [code, count] : statusCodes) {
        j += (first ? "\"" : ",\"") + Hex(code) + "\":" + std::to_string(count);
        first = false;
    }
    j += "},\"power_ups\":" + std::to_string(powerUps);
    j += ",\"bytes_ignored\":" + std::to_string(bytesIgnored);
    const Latency l = LatencyOf(answerLatencyMs);
    j += ",\"answer_latency_ms\":{\"count\":" + std::to_string(answerLatencyMs.size()) +
         ",\"p50\":" + Fixed(l.p50, 3) + ",\"p99\":" + Fixed(l.p99, 3) +
         ",\"max\":" + Fixed(l.max, 3) + "}";
    j += ",\"seconds_run\":" + Fixed(secondsRun, 3);
    j += ",\"stopped_by\":\"" + stopReason + "\"}\n";
    return j;
}

}  // namespace norva::cli
