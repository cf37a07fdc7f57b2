// The one reading of traffic over a day at the bench as a capture holds it: a poll every 1.5 s
// answered with a status code, and between them notes held, accepted 300 ms later and stacked.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "capture/capture_format.h"
#include "capture/traffic_reading.h"

namespace {

constexpr std::int64_t kPollMicros = 1'500'000;
constexpr std::int64_t kDayStart = 1796774400LL * 1'000'000;  // 2026-12-09T00:00:00Z
constexpr std::size_t kDayPollEvents = 230'000;
constexpr std::size_t kDayNotes = 5'000;

// Calls received(time, block) and sent(time, byte) in the order of the traffic.
template <typename Received, typename Sent>
void Session(std::size_t pollEvents, std::size_t notes, Received&& received, Sent&& sent) {
    static const std::vector<std::uint8_t> status{0x3E}, stacked{0x10};
    std::vector<std::uint8_t> escrow{0x81, 0x8F, 0x40};
    const std::size_t cycles = pollEvents / 2;
    const std::size_t noteEvery = notes == 0 ? cycles + 1 : cycles / notes;
    for (std::size_t i = 0; i < cycles; ++i) {
        const std::int64_t t = kDayStart + std::int64_t(i) * kPollMicros;
        sent(t, 0x0C);
        received(t + 51'000, status);
        if (i % noteEvery != 0 || i / noteEvery >= notes) continue;
        escrow[2] = std::uint8_t(0x40 + i % 3);
        received(t + 400'000, escrow);
        sent(t + 700'000, 0x02);
        received(t + 1'200'000, stacked);
    }
}

const std::vector<norva::CaptureEvent>& DayEvents() {
    static const std::vector<norva::CaptureEvent> events = [] {
        std::vector<norva::CaptureEvent> e;
        norva::CaptureEvent port;
        port.kind = norva::TrafficKind::Port;
        port.port = {"COM1", "/dev/ttyUSB0", "9600,E,8,1"};
        e.push_back(port);
        Session(
            kDayPollEvents, kDayNotes,
            [&](std::int64_t t, const std::vector<std::uint8_t>& block) {
                e.push_back({norva::TrafficKind::Received, t, block, {}});
            },
            [&](std::int64_t t, std::uint8_t byte) {
                e.push_back({norva::TrafficKind::Sent, t, {byte}, {}});
            });
        return e;
    }();
    return events;
}

norva::ReadingOptions DayOptions() {
    norva::ReadingOptions options;
    std::array<std::string, 16> values;
    for (int n = 0; n < 16; ++n)
        values[n] = std::to_string((n + 1) * 10);
    options.values = values;
    return options;
}

void BM_ReadingDay(benchmark::State& state) {
    const auto& events = DayEvents();
    std::uint64_t seen = 0;
    for (auto _ : state) {
        norva::TrafficReading reading(DayOptions(), [&](const norva::TrafficEvent&) { ++seen; });
        for (const norva::CaptureEvent& event : events)
            norva::FeedCaptureEvent(reading, event);
        reading.Finish();
        benchmark::DoNotOptimize(reading.tallies().stacked);
        state.counters["memory_bytes"] = double(reading.MemoryBytes());
    }
    state.counters["events_per_second"] = benchmark::Counter(
        double(events.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
    benchmark::DoNotOptimize(seen);
}
BENCHMARK(BM_ReadingDay)
    ->Name("reading: a day at the bench (235,000 capture events read)")
    ->Unit(benchmark::kMillisecond);

void BM_ReadingDayFromText(benchmark::State& state) {
    const std::string text = norva::FormatCapture(DayEvents());
    for (auto _ : state) {
        const auto parse = norva::ParseCapture(text);
        norva::TrafficReading reading(DayOptions(), [](const norva::TrafficEvent&) {});
        for (const norva::CaptureEvent& event : parse.value())
            norva::FeedCaptureEvent(reading, event);
        reading.Finish();
        benchmark::DoNotOptimize(reading.tallies().stacked);
    }
    state.counters["events_per_second"] = benchmark::Counter(
        double(DayEvents().size()) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadingDayFromText)
    ->Name("reading: the same day from its capture text, parsing included")
    ->Unit(benchmark::kMillisecond);

// Fed event by event as a link or a streaming reader feeds it: the memory kept after 20 million.
void BM_ReadingTwentyMillion(benchmark::State& state) {
    std::size_t events = 0;
    for (auto _ : state) {
        events = 0;
        norva::TrafficReading reading(DayOptions(), [](const norva::TrafficEvent&) {});
        reading.PortOpened(kDayStart, {"COM1", "/dev/ttyUSB0", "9600,E,8,1"});
        Session(
            19'600'000, 130'000,
            [&](std::int64_t t, const std::vector<std::uint8_t>& block) {
                reading.Received(t, block);
                ++events;
            },
            [&](std::int64_t t, std::uint8_t byte) {
                reading.Sent(t, byte);
                ++events;
            });
        reading.Finish();
        state.counters["memory_bytes"] = double(reading.MemoryBytes());
    }
    state.counters["events_per_second"] = benchmark::Counter(
        double(events) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadingTwentyMillion)
    ->Name("reading: 20 million events fed one by one")
    ->Unit(benchmark::kMillisecond);

}  // namespace
