#include "picture/time_window.h"

#include <algorithm>

namespace norva::picture {

TimeWindow TimeWindow::Fit(std::int64_t startMicros, std::int64_t endMicros) {
    const double width = std::max(double(endMicros - startMicros), kNarrowestWindowMicros);
    const double margin = width * 0.02;
    return {double(startMicros) - margin, double(startMicros) + width + margin};
}

TimeWindow TimeWindow::Zoomed(double at, double factor, const TimeWindow& fit) const {
    at = std::clamp(at, 0.0, 1.0);
    const double width = std::clamp(Width() * factor, kNarrowestWindowMicros,
                                    std::max(fit.Width(), kNarrowestWindowMicros));
    const double pivot = fromMicros + at * Width();
    TimeWindow zoomed{pivot - at * width, pivot - at * width + width};
    return zoomed.Panned(0, fit);
}

TimeWindow TimeWindow::Panned(double fraction, const TimeWindow& fit) const {
    const double width = Width();
    double from = fromMicros + fraction * width;
    // Some of the session stays in sight: at least a tenth of the window.
    from = std::clamp(from, fit.fromMicros - 0.9 * width, fit.toMicros - 0.1 * width);
    return {from, from + width};
}

}  // namespace norva::picture
