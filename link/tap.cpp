#include "link/tap.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "link/rival_notice.h"

namespace norva {

TapLink::TapLink(TapOrder::Sink& sink, QObject* parent)
    : QObject(parent), sink_(sink), due_(new QTimer(this)) {
    due_->setSingleShot(true);
    connect(due_, &QTimer::timeout, this, &TapLink::Drain);
    connect(&look_, &QTimer::timeout, this, &TapLink::Drain);
}

TapLink::~TapLink() {
    // The notifier watches the inputs' descriptor: it goes first.
    wake_.reset();
    inputs_.reset();
}

Result<std::string> TapLink::Open(const PortIdentity& host, const PortIdentity& device,
                                  std::int64_t leastBoundMicros) {
    Close();
    host_ = host;
    device_ = device;
    Result<std::unique_ptr<TapInputs>> opened = TapInputs::Open({host, device, leastBoundMicros});
    if (!opened.ok()) return opened.outcome();
    inputs_ = std::move(opened).value();
    // The inputs' thread wakes this one through a descriptor, so nothing it allocates is freed
    // here and the thread checker sees the hand-over.
    if (inputs_->wakeDescriptor() >= 0) {
        wake_ = std::make_unique<QSocketNotifier>(inputs_->wakeDescriptor(), QSocketNotifier::Read);
        connect(wake_.get(), &QSocketNotifier::activated, this, &TapLink::Drain);
    } else {
        look_.start(kLookMs);
    }
    for (const TapSide side : {TapSide::Host, TapSide::Device})
        WatchForRivals(side);
    order_.emplace(
        TapOrder::Setup{std::int64_t{kQuietMs} * 1000, inputs_->boundMicros(), kBlockSize}, sink_);
    return inputs_->warnings();
}

void TapLink::Close() {
    if (!inputs_) return;
    inputs_->Stop();
    Drain();
    order_->Finish();
    emit Handled();
    wake_.reset();
    look_.stop();
    inputs_.reset();
    for (auto& rivals : rivals_)
        rivals.reset();
    due_->stop();
}

void TapLink::WatchForRivals(TapSide side) {
    auto& rivals = rivals_[side == TapSide::Host ? 0 : 1];
    rivals = std::make_unique<RivalNotice>(identity(side).devicePath);
    connect(rivals.get(), &RivalNotice::Noticed, this, &TapLink::RivalOpened);
}

void TapLink::Drain() {
    if (!inputs_) return;
    const std::int64_t heard = inputs_->Take([this](TapSide side, const Block& block) {
        if (block.event == LineEvent::None) {
            order_->Read(side, block.firstByteUnixMicros, block.bytes);
            return;
        }
        order_->LineChanged(side, block.event == LineEvent::Gone, block.firstByteUnixMicros);
        // A line gone has no node to watch; one back is watched anew.
        if (block.event == LineEvent::Gone)
            rivals_[side == TapSide::Host ? 0 : 1].reset();
        else
            WatchForRivals(side);
    });
    order_->Advance(heard);
    emit Handled();
    Schedule();
}

void TapLink::Schedule() {
    const std::optional<std::int64_t> due = order_->NextDue();
    if (!due) {
        due_->stop();
        return;
    }
    // Late rather than early, so the time has passed when it fires, and late enough to hand
    // out what is due close together in one go.
    const std::int64_t waitMicros =
        std::max<std::int64_t>(*due - inputs_->Now(), 0) + TapInputs::kLookLaterMicros;
    due_->start(static_cast<int>(std::min<std::int64_t>(waitMicros / 1000 + 1, INT_MAX)));
}

}  // namespace norva
