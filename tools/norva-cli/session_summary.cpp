#include "tools/norva-cli/session_summary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "textfile/printable.h"

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
    t += "lines dropped " + std::to_string(linesDropped) + "\n";
    if (capture) {
        t += "capture " + Printable(capture->file) + " restarts " +
             std::to_string(capture->restarts);
        t += capture->error.empty() ? "\n" : " failed: " + Printable(capture->error) + "\n";
    }
    return t;
}

// Counts as JSON integers; fractions rounded to the microsecond they were measured in, so each
// number is written in its shortest exact form ("51.2", not "51.200").
std::string SessionSummary::Json() const {
    const auto count = [](std::uint64_t n) { return QJsonValue(static_cast<qint64>(n)); };
    const auto micros = [](double value) { return QJsonValue(std::round(value * 1000) / 1000); };
    QJsonObject channels;
    for (std::size_t c = 1; c < stacked.size(); ++c) {
        if (stacked[c] != 0) channels[QString::number(c)] = count(stacked[c]);
    }
    QJsonObject codes;
    for (const auto& [code, n] : statusCodes)
        codes[QString::fromStdString(Hex(code))] = count(n);
    const Latency l = LatencyOf(answerLatencyMs);
    QJsonObject j{
        {"stacked", QJsonObject{{"total", count(StackedTotal())},
                                {"channels", channels},
                                {"unannounced", count(stacked[0])}}},
        {"credit", credit},
        {"refused", QJsonObject{{"unticked", count(refusedUnticked)},
                                {"not_a_number", count(refusedNotANumber)}}},
        {"returned", count(returned)},
        {"rejected_by_policy", count(rejectedByPolicy)},
        {"status_codes", codes},
        {"power_ups", count(powerUps)},
        {"bytes_ignored", count(bytesIgnored)},
        {"answer_latency_ms", QJsonObject{{"count", count(answerLatencyMs.size())},
                                          {"p50", micros(l.p50)},
                                          {"p99", micros(l.p99)},
                                          {"max", micros(l.max)}}},
        {"seconds_run", micros(secondsRun)},
        {"stopped_by", QString::fromStdString(stopReason)},
        {"lines_dropped", count(linesDropped)},
    };
    if (capture) {
        j["capture"] = QJsonObject{
            {"file", QString::fromStdString(capture->file)},
            {"restarts", count(capture->restarts)},
            {"error",
             capture->error.empty() ? QJsonValue() : QString::fromStdString(capture->error)},
        };
    }
    return QJsonDocument(j).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

}  // namespace norva::cli
