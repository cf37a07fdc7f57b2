#pragma once

#include <QJsonObject>
#include <string>

#include "capture/traffic_reading.h"

namespace norva::cli {

// The part of a session's summary that the one reading of traffic gives, the same keys and lines
// for norva-cli's own sessions and for a tap. hostKnown: the reading had the host's profile, so
// it tells why notes were refused and which 0x0F were a policy's; a tap does not know the host's
// ticks and leaves those null ("not seen"), and counts every 0x0F as a refusal.
struct ReadingReport {
    const TrafficTallies& tallies;
    bool hostKnown = true;

    // "stacked ...", "credit ...", ... "escrow hold ms ...", one line each, LF ended.
    std::string Text() const;
    // stacked, credit, refused, returned, rejected_by_policy, status_codes, power_ups,
    // bytes_ignored, answer_latency_ms, escrow_hold_ms.
    QJsonObject Json() const;

    // What only a tap sees: answers after the note had ended, notes never decided, notes handed
    // back before any decision.
    std::string TapText() const;
    QJsonObject TapJson() const;
};

// Milliseconds with their microseconds, as JSON and the text write them.
double Millis(std::int64_t micros);

}  // namespace norva::cli
