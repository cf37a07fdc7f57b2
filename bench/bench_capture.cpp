// The traffic record as a session fills it: polls and their status answers, now and then a
// note in escrow and its answer, the note stacked.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "capture/traffic_record.h"

namespace {

constexpr std::int64_t kPollMicros = 1'500'000;

// One poll cycle of a polling session; every tenth carries a note.
std::size_t FeedCycle(norva::TrafficRecord& record, std::int64_t t, bool note) {
    static const std::vector<std::uint8_t> status{0x3E};
    static const std::vector<std::uint8_t> escrow{0x81, 0x8F, 0x40};
    static const std::vector<std::uint8_t> stacked{0x10};
    record.Sent(t, 0x0C);
    record.Received(t + 51'000, status);
    if (!note) return 2;
    record.Received(t + 400'000, escrow);
    record.Sent(t + 460'000, 0x02);
    record.Received(t + 900'000, stacked);
    return 5;
}

void BM_CaptureBytesPerEvent(benchmark::State& state) {
    constexpr int kCycles = 200'000;  // about 83 hours of polling
    double perEvent = 0;
    for (auto _ : state) {
        norva::TrafficRecord record;
        record.PortOpened(0, {"COM1", "/dev/ttyUSB0", "9600,E,8,1"});
        std::size_t events = 1, payload = 0;
        for (int i = 0; i < kCycles; ++i) {
            const bool note = i % 10 == 0;
            events += FeedCycle(record, std::int64_t(i) * kPollMicros, note);
            payload += note ? 5 : 1;
        }
        perEvent = double(record.MemoryBytes() - payload) / double(events);
        benchmark::DoNotOptimize(record.eventCount());
    }
    state.counters["bytes_per_event"] = perEvent;
}
BENCHMARK(BM_CaptureBytesPerEvent)
    ->Name("capture: bytes per event beyond its own bytes, polling session")
    ->Unit(benchmark::kMillisecond);

void BM_CaptureRecordFlood(benchmark::State& state) {
    norva::TrafficRecord record;
    const std::vector<std::uint8_t> block(4999, 0x21);
    std::int64_t t = 0;
    for (auto _ : state) {
        record.Received(t, block);
        record.Sent(t + 1, 0x0C);
        t += 2;
        // Kept at the size of a long session so the cost does not depend on the run's length.
        if (record.eventCount() >= 200'000) {
            state.PauseTiming();
            record.Clear();
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 4999);
}
BENCHMARK(BM_CaptureRecordFlood)->Name("capture: 4999-byte blocks recorded");

}  // namespace
