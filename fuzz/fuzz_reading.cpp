// The reading of traffic fed any capture text, passively and as three kinds of host: no crash,
// and its events and tallies agree with one another whatever the traffic.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "capture/capture_format.h"
#include "capture/traffic_reading.h"
#include "fuzz/fuzz_check.h"

using namespace norva;

namespace {

void CheckDurations(const DurationTally& d) {
    Check(d.count() == 0 || (0 <= d.Quantile(0.5) && d.Quantile(0.5) <= d.Quantile(0.99) &&
                             d.Quantile(0.99) <= d.max()),
          "quantiles out of order");
}

void Read(const std::vector<CaptureEvent>& capture, ReadingOptions options) {
    std::uint64_t events = 0, lines = 0, answers = 0;
    TrafficReading reading(std::move(options), [&](const TrafficEvent& e) {
        ++events;
        lines += LogLines(e).size();
        Check(e.duration >= 0, "negative duration");
        if (e.kind == EventKind::Answer) ++answers;
        if (e.kind == EventKind::EscrowHeld)
            Check(e.channel >= 1 && e.channel <= 16 && e.bytes.size() == 3, "escrow event");
        if (e.kind == EventKind::Ignored) Check(!e.bytes.empty(), "empty ignored run");
    });
    for (const CaptureEvent& event : capture)
        FeedCaptureEvent(reading, event);
    reading.Finish();
    const TrafficTallies& t = reading.tallies();
    std::uint64_t stacked = 0, returned = 0;
    for (std::size_t c = 0; c < t.channels.size(); ++c) {
        stacked += t.channels[c].stacked;
        returned += t.channels[c].returned;
        Check(t.channels[c].refused <= t.channels[c].held, "more refused than held");
    }
    Check(stacked == t.stacked && returned == t.returned, "channels do not sum to the totals");
    Check(events == t.events && lines == t.logLines, "events or lines miscounted");
    Check(t.lateAnswers <= answers && t.answerLatency.count() <= answers, "answers miscounted");
    Check(t.bytesIgnored <= t.bytesReceived, "more ignored than received");
    Check(!t.credit || (*t.credit >= 0 && *t.credit <= 99'999'999), "credit off the display");
    for (const DurationTally* d :
         {&t.answerLatency, &t.heldToDecision, &t.decisionToOutcome, &t.heldToHandBack}) {
        CheckDurations(*d);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = ParseCapture(std::string_view(reinterpret_cast<const char*>(data), size));
    // A capture with a bad line is refused whole, so only good ones reach the reading.
    if (!parsed.ok()) return 0;
    const std::vector<CaptureEvent>& parse = parsed.value();
    std::array<std::string, 16> values;
    for (int n = 0; n < 16; ++n)
        values[n] = std::to_string(n + 1);
    values[4] = std::string(1, 'x');  // a value the table cannot read
    Read(parse, {std::nullopt, std::nullopt, 1'000'000});
    Read(parse, {std::nullopt, values, 10'000'000});
    for (const int setting : {0, 1}) {
        HostProfile host{{true, true, true, false, true}, values, setting};
        Read(parse, {host, std::nullopt, 10'000'000});
    }
    return 0;
}
