#include "tools/norva-cli/session_summary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>

#include "textfile/printable.h"
#include "tools/norva-cli/reading_report.h"

namespace norva::cli {

namespace {

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace

std::string SessionSummary::Text() const {
    const ReadingReport reading{tallies, !tap};
    std::string t = "== summary\n" + reading.Text();
    if (tap) {
        t += reading.TapText();
        t += "order uncertain " + std::to_string(tap->uncertainPairs) + " (bound " +
             Fixed(Millis(tap->boundMicros), 3) + " ms)\n";
    }
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
    const ReadingReport reading{tallies, !tap};
    QJsonObject j = reading.Json();
    j["seconds_run"] = std::round(secondsRun * 1000) / 1000;
    j["stopped_by"] = QString::fromStdString(stopReason);
    j["lines_dropped"] = count(linesDropped);
    if (capture) {
        j["capture"] = QJsonObject{
            {"file", QString::fromStdString(capture->file)},
            {"restarts", count(capture->restarts)},
            {"error",
             capture->error.empty() ? QJsonValue() : QString::fromStdString(capture->error)},
        };
    }
    if (tap) {
        const QJsonObject extra = reading.TapJson();
        for (auto it = extra.begin(); it != extra.end(); ++it)
            j[it.key()] = it.value();
        j["order_uncertain"] = count(tap->uncertainPairs);
        j["order_bound_ms"] = Millis(tap->boundMicros);
    }
    return QJsonDocument(j).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

}  // namespace norva::cli
