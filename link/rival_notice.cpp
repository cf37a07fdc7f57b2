#include "link/rival_notice.h"

#include <array>

namespace norva {

namespace {

// When to look again after an open in which nobody new was seen, from the one before.
constexpr std::array<int, 3> kLookAgainMs{20, 100, 400};

}  // namespace

RivalNotice::RivalNotice(const std::string& devicePath, QObject* parent)
    : QObject(parent), watch_(devicePath) {
    again_.setSingleShot(true);
    connect(&again_, &QTimer::timeout, this, &RivalNotice::Look);
    if (watch_.fd() < 0) return;  // no inotify: nothing is noticed, as before
    notifier_ = std::make_unique<QSocketNotifier>(watch_.fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        if (!watch_.TakeOpens()) return;
        looks_ = 0;
        Look();
    });
}

void RivalNotice::Look() {
    const bool last = looks_ == static_cast<int>(kLookAgainMs.size());
    if (const auto text = watch_.Look(last)) {
        emit Noticed(QString::fromStdString(*text));
        return;
    }
    if (!last) again_.start(kLookAgainMs[static_cast<std::size_t>(looks_++)]);
}

}  // namespace norva
