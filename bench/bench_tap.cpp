#include "bench_tap.h"

#include <algorithm>
#include <random>
#include <thread>

#include "link/tap_inputs.h"
#include "pty_pair.h"

namespace norva::bench {

namespace {

double Ms(std::int64_t micros) {
    return static_cast<double>(micros) / 1000.0;
}

}  // namespace

TapOrderFigures MeasureTapOrder(int rounds) {
    TapOrderFigures figures;
    PtyPair host, device;
    Result<std::unique_ptr<TapInputs>> opened = TapInputs::Open(
        {{"", host.slavePath(), "9600,E,8,1"}, {"", device.slavePath(), "9600,E,8,1"}, [] {}});
    if (!opened.ok()) return figures;
    TapInputs& tap = *opened.value();
    // Negative: the host's byte first.
    std::vector<int> gaps = {-10000, -5000, -2000, -1000, -500, -300, -200, -100, -50,  0,
                             50,     100,   200,   300,   500,  1000, 2000, 5000, 10000};
    std::vector<std::int64_t> late;
    std::mt19937 random(7);
    for (int round = 0; round < rounds; ++round) {
        std::shuffle(gaps.begin(), gaps.end(), random);
        for (const int gap : gaps) {
            PtyPair& first = gap >= 0 ? device : host;
            PtyPair& second = gap >= 0 ? host : device;
            const std::int64_t written = tap.Now();
            first.Write({0x21});
            // Sleep for the most of a long gap, spin for the rest: the gap is what the clock says.
            if (std::abs(gap) >= 300)
                std::this_thread::sleep_for(std::chrono::microseconds(std::abs(gap) - 100));
            std::int64_t writtenSecond;
            while ((writtenSecond = tap.Now()) < written + std::abs(gap)) {
            }
            second.Write({0x21});
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            std::int64_t read[2] = {-1, -1};  // host, device
            tap.Take([&](TapSide side, const Block& block) {
                std::int64_t& slot = read[side == TapSide::Host ? 0 : 1];
                if (!block.bytes.empty() && slot < 0) slot = block.firstByteUnixMicros;
            });
            if (read[0] < 0 || read[1] < 0) continue;  // later than 25 ms: counted with the next
            const std::int64_t hostWritten = gap >= 0 ? writtenSecond : written;
            const std::int64_t deviceWritten = gap >= 0 ? written : writtenSecond;
            late.push_back(read[0] - hostWritten);
            late.push_back(read[1] - deviceWritten);
            ++figures.pairs;
            const std::int64_t measured = read[0] - read[1];  // the host's after the device's
            const std::int64_t actual = hostWritten - deviceWritten;
            if (measured == 0) {
                ++figures.tied;
                figures.widestTiedGapMicros =
                    std::max(figures.widestTiedGapMicros, std::abs(actual));
            } else if (actual != 0 && (measured > 0) != (actual > 0)) {
                ++figures.inverted;
            }
        }
    }
    std::sort(late.begin(), late.end());
    if (!late.empty()) {
        const auto at = [&](double q) {
            return Ms(late[std::size_t(q * double(late.size() - 1))]);
        };
        figures.lateP50Ms = at(0.5);
        figures.lateP99Ms = at(0.99);
        figures.lateP999Ms = at(0.999);
        figures.lateMaxMs = Ms(late.back());
    }
    return figures;
}

}  // namespace norva::bench
