#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/result.h"
#include "base/unique_fd.h"
#include "link/block_inbox.h"
#include "link/tap_order.h"
#include "protocol/traffic_sink.h"
#include "serial/com_port.h"
#include "serial/device_discovery.h"

namespace norva {

// The tap's two inputs: the line that carries what the host sends and the line that carries what
// the acceptor sends, each a serial device opened for reading only (nothing in the program can
// write to them), exclusively as the bench opens a port, with the line settings of a mode string.
// One thread waits on both, so every read is timed on one clock in the order the thread took
// them: each read at the moment the thread woke for it (CLOCK_MONOTONIC, told as microseconds
// since the Unix epoch by one offset taken at the start, so a clock step in the session moves
// nothing). A device that goes away is closed and waited for, and opened again when its path is
// back, as the bench does with its port (a pseudo-terminal's own name, which never comes back,
// is not waited for).
class TapInputs {
public:
    struct Setup {
        PortIdentity host;    // portName may be empty; devicePath as mapped
        PortIdentity device;  // the acceptor's line; modeString for both
        // A bound the user knows the lines need (a network serial server, a hub: hold-backs the
        // tap cannot read); used when larger than the one worked out from the devices.
        std::int64_t leastBoundMicros = 0;
    };

    // Opens both; a failure names the device and why. The thread starts at once.
    static Result<std::unique_ptr<TapInputs>> Open(Setup setup);
    // Stops and joins the thread, then closes both devices.
    ~TapInputs();
    TapInputs(const TapInputs&) = delete;
    TapInputs& operator=(const TapInputs&) = delete;

    // Takes what both inputs read so far. Every read timed before the returned time has been
    // visited, whatever the thread does meanwhile: reads timed later may still come.
    std::int64_t Take(const std::function<void(TapSide, const Block&)>& visit);

    // Readable when what was read should be taken now; Take clears it. Not at every read: the
    // order has nothing to hand out before a host byte's bound has passed, or a block's quiet
    // gap and bound, so the thread waits that long (and kLookLaterMicros, to take what comes
    // close together at once), and wakes the taker only if it has not taken the read meanwhile.
    // A line gone or back wakes it at once. -1 when the system gave no descriptor: the taker
    // must then look now and then.
    int wakeDescriptor() const { return wakeEvent_.get(); }

    // Stops the thread; afterwards Take hands out everything and no read is to come.
    void Stop();

    const PortIdentity& identity(TapSide side) const;
    // What the opens warned of (line settings a driver refused), empty when nothing.
    const std::string& warnings() const { return warnings_; }
    // The inputs' clock: microseconds since the Unix epoch, from the monotonic clock.
    std::int64_t Now() const;
    bool waiting(TapSide side) const { return waiting_[Index(side)]; }
    std::int64_t boundMicros() const { return boundMicros_; }

    // A device that went away is looked for this often.
    static constexpr int kReopenRetryMs = kDeviceRetryMs;
    // How much later than strictly needed what was read is taken, so that a block and the
    // answers to it are handed out in one go.
    static constexpr std::int64_t kLookLaterMicros = 10'000;
    // The most one read takes.
    static constexpr std::size_t kReadBytes = kBlockSize;

private:
    explicit TapInputs(Setup setup);
    static constexpr std::size_t Index(TapSide side) { return side == TapSide::Host ? 0 : 1; }
    void Run();
    void Lost(TapSide side, std::int64_t now);
    void Pushed(TapSide side, std::int64_t time);
    void WakeTaker();
    int WaitMs(bool waitingForDevice) const;
    void TryReopen(TapSide side, std::int64_t now);
    BlockInbox& InboxOf(TapSide side) { return side == TapSide::Host ? hostInbox_ : deviceInbox_; }

    Setup setup_;
    PortHandle host_{PortHandle::Access::ReadOnly};
    PortHandle device_{PortHandle::Access::ReadOnly};
    BlockInbox hostInbox_;
    BlockInbox deviceInbox_;
    std::int64_t unixOffset_ = 0;  // Unix micros minus monotonic micros
    std::int64_t boundMicros_ = 0;
    std::string warnings_;
    std::atomic<bool> waiting_[2] = {false, false};
    std::int64_t nextTry_[2] = {0, 0};
    bool mayComeBack_[2] = {true, true};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> stopped_{false};
    // While the thread handles a pass: true, and when that pass began. Every read of a pass is
    // timed at its beginning and handed to an inbox before busy_ turns false.
    std::atomic<bool> busy_{false};
    std::atomic<std::int64_t> passStart_{0};
    // Reads handed to the inboxes, and of them the ones the taker surely has; on the thread: when
    // the taker must have what is not taken yet.
    std::atomic<std::uint64_t> pushed_{0};
    std::atomic<std::uint64_t> taken_{0};
    std::int64_t wakeTakerAt_ = 0;
    bool wakePending_ = false;
    UniqueFd stopEvent_;
    UniqueFd wakeEvent_;
    std::thread thread_;
};

// How late an input's reads may be timed beyond the wire, in microseconds, from what holds its
// bytes back: nothing on a pseudo-terminal; a USB adapter's latency timer (its sysfs
// latency_timer, 16 ms where it has none) plus a 1 ms USB frame; a UART's receive time-out of 4
// characters at the line's speed plus 1 ms.
std::int64_t InputLatencyMicros(const std::string& devicePath, const std::string& modeString,
                                const DeviceRoots& roots = {});

// Two times of the two inputs closer than this may stand in either order on the wire: how late
// the reading thread may time a read (on pseudo-terminals of a machine under load, 99.9 % of
// reads within 12 to 17 ms of their write; the benchmark measures it) and the larger of the two
// inputs' hold-backs.
inline constexpr std::int64_t kTapWakeSpreadMicros = 20'000;
std::int64_t TapOrderBoundMicros(std::int64_t hostLatency, std::int64_t deviceLatency);

}  // namespace norva
