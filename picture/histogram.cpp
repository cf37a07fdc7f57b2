#include "picture/histogram.h"

#include <algorithm>
#include <cmath>

namespace norva::picture {

double HistogramAxis::Position(double ms) const {
    if (!(ms > 0)) return 0;
    return std::log10(ms / lowMs) / decades;
}

int HistogramAxis::BinOf(double ms) const {
    const double at = std::floor(Position(ms) * Bins());
    return int(std::clamp(at, 0.0, double(Bins() - 1)));
}

double HistogramAxis::EdgeMs(int i) const {
    return lowMs * std::pow(10.0, double(i) / binsPerDecade);
}

std::uint64_t Histogram::Tallest() const {
    return counts_.empty() ? 0 : *std::max_element(counts_.begin(), counts_.end());
}

}  // namespace norva::picture
