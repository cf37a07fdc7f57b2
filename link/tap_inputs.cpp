#include "link/tap_inputs.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <limits>

#include "serial/line_mode.h"
#include "serial/port_exclusion.h"
#include "textfile/regular_file.h"

namespace norva {

namespace {

constexpr std::int64_t kUsbFrameMicros = 1'000;
constexpr std::int64_t kDefaultLatencyTimerMs = 16;
constexpr int kUartTimeoutCharacters = 4;
constexpr int kNoStopEventMs = 100;

std::int64_t MonotonicMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::int64_t CharacterMicros(const std::string& modeString) {
    const LineMode mode = ParseModeString(modeString).value_or(LineMode{});
    const unsigned baud = mode.baud.value_or(9600) == 0 ? 9600 : mode.baud.value_or(9600);
    const unsigned parity = mode.parity.value_or(Parity::Even) == Parity::None ? 0 : 1;
    const unsigned stop = mode.stopBits.value_or(StopBits::One) == StopBits::One ? 1 : 2;
    const unsigned bits = 1 + static_cast<unsigned>(mode.dataBits.value_or(8)) + parity + stop;
    return static_cast<std::int64_t>(bits) * 1'000'000 / baud;
}

}  // namespace

std::int64_t InputLatencyMicros(const std::string& devicePath, const std::string& modeString,
                                const DeviceRoots& roots) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) == 0 && IsPtySlave(st)) return 0;
    char* resolved = ::realpath(devicePath.c_str(), nullptr);
    const std::string name = BaseName(resolved ? resolved : devicePath);
    std::free(resolved);
    if (name.starts_with("ttyUSB") || name.starts_with("ttyACM")) {
        std::int64_t timerMs = kDefaultLatencyTimerMs;
        const Result<std::string> text = ReadRegularFile(
            roots.sys + "/bus/usb-serial/devices/" + name + "/latency_timer", {true, 64});
        if (text.ok()) {
            const long value = std::strtol(text->c_str(), nullptr, 10);
            if (value >= 1 && value <= 255) timerMs = value;
        }
        return timerMs * 1'000 + kUsbFrameMicros;
    }
    return kUartTimeoutCharacters * CharacterMicros(modeString) + kUsbFrameMicros;
}

std::int64_t TapOrderBoundMicros(std::int64_t hostLatency, std::int64_t deviceLatency) {
    return kTapWakeSpreadMicros + std::max(hostLatency, deviceLatency);
}

TapInputs::TapInputs(Setup setup) : setup_(std::move(setup)) {
    unixOffset_ = UnixMicrosNow() - MonotonicMicros();
    passStart_ = 0;
}

Result<std::unique_ptr<TapInputs>> TapInputs::Open(Setup setup) {
    struct stat hostStat {
    }, deviceStat{};
    if (::stat(setup.host.devicePath.c_str(), &hostStat) == 0 &&
        ::stat(setup.device.devicePath.c_str(), &deviceStat) == 0 &&
        hostStat.st_dev == deviceStat.st_dev && hostStat.st_ino == deviceStat.st_ino) {
        return Outcome::Failed(setup.host.devicePath + " and " + setup.device.devicePath +
                               ": one device cannot hear both lines");
    }
    std::unique_ptr<TapInputs> inputs(new TapInputs(std::move(setup)));
    for (const TapSide side : {TapSide::Host, TapSide::Device}) {
        const PortIdentity& id = inputs->identity(side);
        PortHandle& port = side == TapSide::Host ? inputs->host_ : inputs->device_;
        const Result<OpenedPort> opened = OpenDevice(&port, id.devicePath, id.modeString);
        if (!opened.ok()) return opened.outcome();
        if (!opened->warning.empty())
            inputs->warnings_ += (inputs->warnings_.empty() ? "" : "; ") + opened->warning;
    }
    inputs->boundMicros_ = std::max(
        inputs->setup_.leastBoundMicros,
        TapOrderBoundMicros(
            InputLatencyMicros(inputs->setup_.host.devicePath, inputs->setup_.host.modeString),
            InputLatencyMicros(inputs->setup_.device.devicePath,
                               inputs->setup_.device.modeString)));
    inputs->stopEvent_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    inputs->wakeEvent_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    inputs->passStart_ = inputs->Now();
    inputs->thread_ = std::thread([raw = inputs.get()] { raw->Run(); });
    return inputs;
}

TapInputs::~TapInputs() {
    Stop();
    CloseComPort(&host_);
    CloseComPort(&device_);
}

void TapInputs::Stop() {
    stopRequested_ = true;
    if (stopEvent_.valid()) {
        const std::uint64_t one = 1;
        (void)!::write(stopEvent_.get(), &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    stopped_ = true;
}

const PortIdentity& TapInputs::identity(TapSide side) const {
    return side == TapSide::Host ? setup_.host : setup_.device;
}

std::int64_t TapInputs::Now() const {
    return MonotonicMicros() + unixOffset_;
}

std::int64_t TapInputs::Take(const std::function<void(TapSide, const Block&)>& visit) {
    if (wakeEvent_.valid()) {
        std::uint64_t count = 0;
        (void)!::read(wakeEvent_.get(), &count, sizeof count);
    }
    // The time first, then the inboxes: whatever was timed before it is in them by then.
    std::int64_t heard = Now();
    if (stopped_)
        heard = std::numeric_limits<std::int64_t>::max();
    else if (busy_)
        heard = passStart_;
    // Every read counted before the inboxes are emptied is in them.
    const std::uint64_t pushed = pushed_;
    for (const TapSide side : {TapSide::Device, TapSide::Host}) {
        for (const Block& block : InboxOf(side).TakeAll())
            visit(side, block);
    }
    taken_ = pushed;
    return heard;
}

void TapInputs::Run() {
    std::vector<std::uint8_t> buffer(kReadBytes);
    for (;;) {
        pollfd fds[3] = {{stopEvent_.get(), POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
        bool waitingAny = false;
        for (const TapSide side : {TapSide::Host, TapSide::Device}) {
            const std::size_t i = Index(side);
            fds[1 + i].fd = waiting_[i] ? -1 : (side == TapSide::Host ? host_ : device_).fd();
            waitingAny = waitingAny || (waiting_[i] && mayComeBack_[i]);
        }
        const int wait = WaitMs(waitingAny);
        busy_ = false;
        const int ready = ::poll(fds, 3, wait);
        busy_ = true;
        const std::int64_t now = Now();
        passStart_ = now;
        if (stopRequested_) break;
        if (wakePending_ && now >= wakeTakerAt_) {
            wakePending_ = false;
            if (taken_ != pushed_) WakeTaker();
        }
        if (ready < 0 && errno != EINTR) {
            // Nothing sensible to wait on: look again a little later rather than spin.
            ::poll(fds, 1, kReopenRetryMs);
            continue;
        }
        // The acceptor's line first: at equal times its bytes go before the host's answer.
        for (const TapSide side : {TapSide::Device, TapSide::Host}) {
            const std::size_t i = Index(side);
            if (waiting_[i]) {
                TryReopen(side, now);
                continue;
            }
            const short events = fds[1 + i].revents;
            if (events == 0) continue;
            if (events & POLLIN) {
                const ssize_t n = ::read(fds[1 + i].fd, buffer.data(), buffer.size());
                if (n > 0) {
                    Block block;
                    block.bytes.assign(buffer.begin(), buffer.begin() + n);
                    block.firstByteUnixMicros = block.lastByteUnixMicros = now;
                    InboxOf(side).Push(std::move(block), stopRequested_);
                    Pushed(side, now);
                    continue;
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            }
            Lost(side, now);  // end of file, a read error, a hang-up with nothing left
        }
    }
    busy_ = false;
}

void TapInputs::Lost(TapSide side, std::int64_t now) {
    const std::size_t i = Index(side);
    PortHandle& port = side == TapSide::Host ? host_ : device_;
    // A pseudo-terminal's own name goes to whoever makes the next one: never opened again.
    mayComeBack_[i] = port.mayComeBack();
    // The dead descriptor goes at once: while it stays open the kernel gives a re-plugged
    // adapter a new name.
    CloseComPort(&port);
    waiting_[i] = true;
    nextTry_[i] = now;
    InboxOf(side).Push({{}, now, LineEvent::Gone, now}, stopRequested_);
    WakeTaker();
}

void TapInputs::Pushed(TapSide side, std::int64_t time) {
    ++pushed_;
    // The earliest a read can make the order hand out something: a host byte after the bound,
    // a block after its quiet gap and the bound.
    const std::int64_t quiet = side == TapSide::Device ? std::int64_t{kQuietMs} * 1000 : 0;
    const std::int64_t at = time + quiet + boundMicros_ + kLookLaterMicros;
    if (!wakePending_ || at < wakeTakerAt_) wakeTakerAt_ = at;
    wakePending_ = true;
}

void TapInputs::WakeTaker() {
    if (!wakeEvent_.valid()) return;
    const std::uint64_t one = 1;
    (void)!::write(wakeEvent_.get(), &one, sizeof one);
}

int TapInputs::WaitMs(bool waitingForDevice) const {
    // Without a stop descriptor the stop flag is looked at a few times a second instead.
    int wait = waitingForDevice ? kReopenRetryMs : stopEvent_.valid() ? -1 : kNoStopEventMs;
    if (wakePending_) {
        const std::int64_t left = std::max<std::int64_t>(wakeTakerAt_ - Now(), 0);
        const int ms = static_cast<int>(std::min<std::int64_t>(left / 1000 + 1, INT_MAX));
        wait = wait < 0 ? ms : std::min(wait, ms);
    }
    return wait;
}

void TapInputs::TryReopen(TapSide side, std::int64_t now) {
    const std::size_t i = Index(side);
    if (!mayComeBack_[i] || now < nextTry_[i]) return;
    nextTry_[i] = now + std::int64_t{kReopenRetryMs} * 1000;
    const PortIdentity& id = identity(side);
    struct stat st {};
    if (::stat(id.devicePath.c_str(), &st) != 0) return;
    PortHandle& port = side == TapSide::Host ? host_ : device_;
    if (!OpenDevice(&port, id.devicePath, id.modeString).ok()) return;
    waiting_[i] = false;
    InboxOf(side).Push({{}, now, LineEvent::Back, now}, stopRequested_);
    WakeTaker();
}

}  // namespace norva
