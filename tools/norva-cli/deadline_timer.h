#pragma once

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>

namespace norva::cli {

// A single shot at any distance ahead. A QTimer takes at most 2^31 ms (24.8 days) at once, so a
// longer wait is armed in pieces of a day until the moment comes.
class DeadlineTimer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPiece = std::chrono::hours(24);

    explicit DeadlineTimer(std::function<void()> due) : due_(std::move(due)) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Arm(); });
    }

    void StartIn(std::chrono::microseconds wait) {
        at_ = Clock::now() + wait;
        Arm();
    }

private:
    void Arm() {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now());
        if (left.count() <= 0) {
            due_();
            return;
        }
        timer_.start(std::min(left, kPiece));
    }

    std::function<void()> due_;
    QTimer timer_;
    Clock::time_point at_;
};

}  // namespace norva::cli
