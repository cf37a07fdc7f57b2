#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace norva::picture {

// Bins of equal width on a logarithmic scale of milliseconds; samples below or above the
// scale count in its first or last bin.
struct HistogramAxis {
    double lowMs;
    int decades;
    int binsPerDecade;

    int Bins() const { return decades * binsPerDecade; }
    int BinOf(double ms) const;
    // Where bin i starts; EdgeMs(Bins()) is where the last ends.
    double EdgeMs(int i) const;
    // 0 at lowMs, 1 at the top of the scale.
    double Position(double ms) const;
};

// The host's answers: 0.1 ms to 100 s.
inline constexpr HistogramAxis kAnswerAxis{0.1, 6, 20};
// Notes in escrow: 1 ms to 1000 s.
inline constexpr HistogramAxis kHoldAxis{1.0, 6, 10};

class Histogram {
public:
    explicit Histogram(HistogramAxis axis) : axis_(axis), counts_(std::size_t(axis.Bins()), 0) {}

    void Add(double ms, std::uint64_t count = 1) { counts_[std::size_t(axis_.BinOf(ms))] += count; }
    void Clear() { std::fill(counts_.begin(), counts_.end(), 0); }
    const HistogramAxis& axis() const { return axis_; }
    const std::vector<std::uint64_t>& counts() const { return counts_; }
    std::uint64_t Tallest() const;

private:
    HistogramAxis axis_;
    std::vector<std::uint64_t> counts_;
};

}  // namespace norva::picture
