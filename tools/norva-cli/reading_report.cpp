#include "tools/norva-cli/reading_report.h"

#include <cstdio>

namespace norva::cli {

namespace {

std::string Fixed(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

std::string Hex(int code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", code);
    return buffer;
}

QJsonValue Count(std::uint64_t n) {
    return QJsonValue(static_cast<qint64>(n));
}

QJsonObject Durations(const DurationTally& d) {
    return {{"count", Count(d.count())},
            {"p50", Millis(d.Quantile(0.50))},
            {"p99", Millis(d.Quantile(0.99))},
            {"max", Millis(d.max())}};
}

std::string DurationsText(const char* what, const DurationTally& d, const char* unit) {
    return std::string(what) + " ms p50 " + Fixed(Millis(d.Quantile(0.50))) + " p99 " +
           Fixed(Millis(d.Quantile(0.99))) + " max " + Fixed(Millis(d.max())) + " (" +
           std::to_string(d.count()) + " " + unit + ")\n";
}

std::uint64_t RefusedTotal(const TrafficTallies& t) {
    std::uint64_t total = 0;
    for (const ChannelTally& c : t.channels)
        total += c.refused;
    return total;
}

}  // namespace

double Millis(std::int64_t micros) {
    return static_cast<double>(micros) / 1000.0;
}

std::string ReadingReport::Text() const {
    const TrafficTallies& t = tallies;
    std::string s = "stacked " + std::to_string(t.stacked);
    for (std::size_t c = 1; c < t.channels.size(); ++c) {
        if (t.channels[c].stacked != 0)
            s += "  ch" + std::to_string(c) + ":" + std::to_string(t.channels[c].stacked);
    }
    if (t.channels[0].stacked != 0) s += "  unannounced:" + std::to_string(t.channels[0].stacked);
    s += t.credit ? "\ncredit " + std::to_string(*t.credit) + "\n"
                  : std::string("\ncredit unknown: no values\n");
    if (hostKnown) {
        s += "refused " + std::to_string(t.refusedUnticked + t.refusedNotANumber) + " (unticked " +
             std::to_string(t.refusedUnticked) + ", not a number " +
             std::to_string(t.refusedNotANumber) + ")\n";
    } else {
        s += "refused " + std::to_string(RefusedTotal(t)) + " (why not seen)\n";
    }
    s += "returned " + std::to_string(t.returned) + "\n";
    s += hostKnown ? "rejected by policy " + std::to_string(t.rejectedByDecision) + "\n"
                   : std::string("rejected by policy not seen\n");
    s += "status codes";
    bool any = false;
    for (int code = 0; code < 256; ++code) {
        if (t.statusCodes[static_cast<std::size_t>(code)] == 0) continue;
        s += "  " + Hex(code) + ":" + std::to_string(t.statusCodes[static_cast<std::size_t>(code)]);
        any = true;
    }
    if (!any) s += " none";
    s += "\npower-ups " + std::to_string(t.powerUps) + "\n";
    s += "bytes ignored " + std::to_string(t.bytesIgnored) + "\n";
    s += DurationsText("answer latency", t.answerLatency, "answers");
    s += DurationsText("escrow hold", t.heldToDecision, "notes");
    return s;
}

QJsonObject ReadingReport::Json() const {
    const TrafficTallies& t = tallies;
    QJsonObject channels;
    for (std::size_t c = 1; c < t.channels.size(); ++c) {
        if (t.channels[c].stacked != 0) channels[QString::number(c)] = Count(t.channels[c].stacked);
    }
    QJsonObject codes;
    for (int code = 0; code < 256; ++code) {
        if (t.statusCodes[static_cast<std::size_t>(code)] != 0)
            codes[QString::fromStdString(Hex(code))] =
                Count(t.statusCodes[static_cast<std::size_t>(code)]);
    }
    const QJsonValue unknown(QJsonValue::Null);
    QJsonObject refused{
        {"unticked", hostKnown ? Count(t.refusedUnticked) : unknown},
        {"not_a_number", hostKnown ? Count(t.refusedNotANumber) : unknown},
    };
    if (!hostKnown) refused["total"] = Count(RefusedTotal(t));
    return {
        {"stacked", QJsonObject{{"total", Count(t.stacked)},
                                {"channels", channels},
                                {"unannounced", Count(t.channels[0].stacked)}}},
        {"credit", t.credit ? QJsonValue(*t.credit) : unknown},
        {"refused", refused},
        {"returned", Count(t.returned)},
        {"rejected_by_policy", hostKnown ? Count(t.rejectedByDecision) : unknown},
        {"status_codes", codes},
        {"power_ups", Count(t.powerUps)},
        {"bytes_ignored", Count(t.bytesIgnored)},
        {"answer_latency_ms", Durations(t.answerLatency)},
        {"escrow_hold_ms", Durations(t.heldToDecision)},
    };
}

std::string ReadingReport::TapText() const {
    return "late answers " + std::to_string(tallies.lateAnswers) + "\nnever decided " +
           std::to_string(tallies.neverDecided) + "\nhanded back before a decision " +
           std::to_string(tallies.handedBack) + "\n";
}

QJsonObject ReadingReport::TapJson() const {
    return {{"late_answers", Count(tallies.lateAnswers)},
            {"never_decided", Count(tallies.neverDecided)},
            {"handed_back", Count(tallies.handedBack)}};
}

}  // namespace norva::cli
