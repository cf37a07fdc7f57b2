#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "link/tap_inputs.h"
#include "link/tap_order.h"

class QSocketNotifier;

namespace norva {
class RivalNotice;
}

namespace norva {

// A passive tap on a live link between a host and an acceptor: the two read-only inputs and the
// order of what they hear, handed to a sink in order on the thread this object lives on. It
// sends nothing, ever: it has no port to send to.
class TapLink : public QObject {
    Q_OBJECT

public:
    explicit TapLink(TapOrder::Sink& sink, QObject* parent = nullptr);
    ~TapLink() override;

    // Opens both inputs and starts listening. A failure names the device and why; a success may
    // carry warnings (line settings a driver refused). leastBoundMicros as TapInputs::Setup's.
    Result<std::string> Open(const PortIdentity& host, const PortIdentity& device,
                             std::int64_t leastBoundMicros = 0);
    // Stops listening and hands out everything read.
    void Close();

    bool listening() const { return inputs_ != nullptr; }
    bool waiting(TapSide side) const { return inputs_ && inputs_->waiting(side); }
    const PortIdentity& identity(TapSide side) const {
        return side == TapSide::Host ? host_ : device_;
    }
    std::int64_t boundMicros() const { return order_ ? order_->boundMicros() : 0; }
    std::uint64_t uncertainPairs() const { return order_ ? order_->uncertainPairs() : 0; }

signals:
    // Traffic was handed out: a front may flush its output now.
    void Handled();
    // Another program opened one of the tap's lines: "PATH: also opened by socat (pid 4711);
    // bytes may go to it".
    void RivalOpened(const QString& text);

private:
    void Drain();
    void Schedule();
    void WatchForRivals(TapSide side);

    TapOrder::Sink& sink_;
    PortIdentity host_, device_;
    std::unique_ptr<TapInputs> inputs_;
    std::optional<TapOrder> order_;
    std::unique_ptr<RivalNotice> rivals_[2];  // host, device; while their lines are open
    QTimer* due_;
    std::unique_ptr<QSocketNotifier> wake_;  // on the inputs' wake descriptor
    QTimer look_;                            // instead, when the system gave none
    static constexpr int kLookMs = 20;
};

}  // namespace norva
