#pragma once

#include <cstdint>

namespace norva::picture {

// The stretch of the session the timeline shows, in Unix microseconds.
struct TimeWindow {
    double fromMicros = 0;
    double toMicros = 1;

    double Width() const { return toMicros - fromMicros; }
    // The whole session with a little room on both sides.
    static TimeWindow Fit(std::int64_t startMicros, std::int64_t endMicros);
    // Narrower by `factor` (below 1 zooms in), keeping the time at `at` (0 at the left edge, 1 at
    // the right) where it is; never narrower than a millisecond nor wider than the fit.
    TimeWindow Zoomed(double at, double factor, const TimeWindow& fit) const;
    // Moved by `fraction` of its width (positive: later), never wholly off the fit.
    TimeWindow Panned(double fraction, const TimeWindow& fit) const;
};

inline constexpr double kNarrowestWindowMicros = 1000;

}  // namespace norva::picture
