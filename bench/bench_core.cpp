// In-process costs of the pieces every received byte passes through.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "billvalues/bill_values.h"
#include "protocol/engine.h"
#include "protocol/shared_state.h"
#include "textfile/text_lines.h"

namespace {

// A window that keeps nothing, so the engine's own cost shows.
class NullWindow : public norva::EngineWindow {
public:
    void AppendLogLine(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
    void SetLinkIndicator(std::string_view, std::uint32_t) override {}
    void SetStatusText(int, std::string_view) override {}
    std::string EnableButtonCaption() const override { return "Disable BA"; }
    void SetEnableButtonCaption(std::string_view) override {}
    void SetAcceptEnabled(bool) override {}
    void SetRejectEnabled(bool) override {}
    void SetDisplayValue(norva::Display d, std::int32_t v) override { values[int(d)] = v; }
    std::int32_t DisplayValue(norva::Display d) const override { return values[int(d)]; }
    bool ChannelTicked(int channel) const override { return channel <= 3; }
    std::string ChannelCaption(int channel) const override { return std::to_string(channel); }
    int EscrowSetting() const override { return 1; }
    void ShowTransientProblem(std::string_view) override {}
    std::int32_t values[3]{};
};

void BM_EngineStatusFlood(benchmark::State& state) {
    NullWindow window;
    norva::ProtocolEngine engine(window, [](std::uint8_t) { return true; });
    const std::vector<std::uint8_t> block(4999, 0x3E);
    for (auto _ : state)
        engine.HandleBlock(block);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 4999);
}
BENCHMARK(BM_EngineStatusFlood)->Name("engine: status codes, 4999-byte blocks");

void BM_EngineMixedTraffic(benchmark::State& state) {
    NullWindow window;
    norva::ProtocolEngine engine(window, [](std::uint8_t) { return true; });
    std::mt19937 random(7);
    std::vector<std::uint8_t> block(4999);
    for (auto& b : block)
        b = std::uint8_t(random());
    for (auto _ : state)
        engine.HandleBlock(block);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 4999);
}
BENCHMARK(BM_EngineMixedTraffic)->Name("engine: random bytes, 4999-byte blocks");

void BM_SplitBillValueFile(benchmark::State& state) {
    std::string text;
    for (int i = 1; i <= 16; ++i)
        text += std::to_string(i * 1000) + "\r\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(norva::SplitTextLines(text, 16));
}
BENCHMARK(BM_SplitBillValueFile)->Name("BILLVALUE.TXT split into 16 lines");

void BM_ChannelValue(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(norva::ChannelValue(" 2147483647"));
        benchmark::DoNotOptimize(norva::ChannelValue("$FFFFFFFF"));
    }
}
BENCHMARK(BM_ChannelValue)->Name("two note values converted");

}  // namespace
