#include "capture/traffic_record.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "textfile/text_lines.h"

namespace norva {

namespace {

constexpr std::uint32_t kKindShift = 30;
constexpr std::uint32_t kMaxLength = (1u << kKindShift) - 1;
constexpr std::size_t kMaxArena = std::numeric_limits<std::uint32_t>::max();

// A quarter more at each step instead of the library's doubling, so that spare capacity stays
// within the per-event budget.
template <typename T>
void MakeRoom(std::vector<T>& v, std::size_t extra) {
    const std::size_t needed = v.size() + extra;
    if (needed <= v.capacity()) return;
    v.reserve(std::max(needed, v.capacity() + v.capacity() / 4 + 256));
}

// A sent byte is kept in its event; a view of it points here.
constexpr auto kEveryByte = [] {
    std::array<std::uint8_t, 256> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}();

std::size_t HeapOf(const std::string& s) {
    return s.capacity() > std::string().capacity() ? s.capacity() + 1 : 0;
}

}  // namespace

void TrafficRecord::Push(std::int64_t unixMicros, TrafficKind kind, std::uint32_t value,
                         std::uint32_t length) {
    MakeRoom(events_, 1);
    events_.push_back({unixMicros, value, static_cast<std::uint32_t>(kind) << kKindShift | length});
}

void TrafficRecord::PortOpened(std::int64_t unixMicros, const PortIdentity& port) {
    MakeRoom(ports_, 1);
    ports_.push_back(port);
    Push(unixMicros, TrafficKind::Port, static_cast<std::uint32_t>(ports_.size() - 1), 0);
}

void TrafficRecord::Received(std::int64_t firstByteUnixMicros,
                             std::span<const std::uint8_t> block) {
    while (!block.empty()) {
        const std::size_t length = std::min<std::size_t>(block.size(), kMaxLength);
        // Offsets are 32 bits: past 4 GiB of received bytes the oldest half makes way.
        while (arena_.size() + length > kMaxArena && !events_.empty())
            DropOldestFraction(0.5);
        const auto offset = static_cast<std::uint32_t>(arena_.size());
        MakeRoom(arena_, length);
        arena_.insert(arena_.end(), block.begin(), block.begin() + length);
        Push(firstByteUnixMicros, TrafficKind::Received, offset,
             static_cast<std::uint32_t>(length));
        block = block.subspan(length);
    }
}

void TrafficRecord::Sent(std::int64_t unixMicros, std::uint8_t byte) {
    Push(unixMicros, TrafficKind::Sent, byte, 1);
}

TrafficRecord::EventView TrafficRecord::event(std::size_t index) const {
    const Event& e = events_.at(index);
    const auto kind = static_cast<TrafficKind>(e.kindAndLength >> kKindShift);
    const std::uint32_t length = e.kindAndLength & kMaxLength;
    EventView view{kind, e.unixMicros, {}, nullptr};
    switch (kind) {
        case TrafficKind::Port:
            view.port = &ports_[e.value];
            break;
        case TrafficKind::Received:
            view.bytes = std::span<const std::uint8_t>(arena_.data() + e.value, length);
            break;
        case TrafficKind::Sent:
            view.bytes = std::span<const std::uint8_t>(&kEveryByte[e.value], 1);
            break;
    }
    return view;
}

const PortIdentity* TrafficRecord::currentPort() const {
    if (!ports_.empty()) return &ports_.back();
    return nullptr;
}

std::size_t TrafficRecord::MemoryBytes() const {
    std::size_t total = sizeof(*this) + events_.capacity() * sizeof(Event) + arena_.capacity() +
                        ports_.capacity() * sizeof(PortIdentity);
    for (const PortIdentity& port : ports_)
        total += HeapOf(port.portName) + HeapOf(port.devicePath) + HeapOf(port.modeString);
    return total;
}

void TrafficRecord::Clear() {
    // Keeps the port in effect: traffic recorded after a clear still runs on it.
    std::optional<PortIdentity> current;
    if (const PortIdentity* port = currentPort()) current = *port;
    // Cleared to give the memory back, not only the contents.
    events_ = {};
    arena_ = {};
    ports_ = {};
    leadingPort_.reset();
    if (current) {
        ports_.push_back(std::move(*current));
        leadingPort_ = 0;
    }
}

void TrafficRecord::DropOldest(std::size_t count) {
    count = std::min(count, events_.size());
    if (count == 0) return;
    std::optional<std::uint32_t> leading = leadingPort_;
    for (std::size_t i = 0; i < count; ++i) {
        const Event& e = events_[i];
        if (static_cast<TrafficKind>(e.kindAndLength >> kKindShift) == TrafficKind::Port)
            leading = e.value;
    }
    events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(count));

    // The ports before the leading one, and the received bytes before the oldest block kept,
    // are no longer referred to.
    const std::uint32_t firstPort = leading.value_or(0);
    std::uint32_t firstByte = static_cast<std::uint32_t>(arena_.size());
    for (const Event& e : events_) {
        if (static_cast<TrafficKind>(e.kindAndLength >> kKindShift) == TrafficKind::Received) {
            firstByte = e.value;
            break;
        }
    }
    ports_.erase(ports_.begin(), ports_.begin() + firstPort);
    arena_.erase(arena_.begin(), arena_.begin() + firstByte);
    for (Event& e : events_) {
        const auto kind = static_cast<TrafficKind>(e.kindAndLength >> kKindShift);
        if (kind == TrafficKind::Port) e.value -= firstPort;
        if (kind == TrafficKind::Received) e.value -= firstByte;
    }
    if (leading) leadingPort_ = *leading - firstPort;
}

void TrafficRecord::DropOldestFraction(double fraction) {
    if (!(fraction > 0)) return;
    if (fraction >= 1) {
        DropOldest(events_.size());
        return;
    }
    DropOldest(static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(events_.size()))));
}

std::string TrafficRecord::Format() const {
    std::string out(kCaptureHeader);
    out += '\n';
    const bool startsWithPort = !events_.empty() && event(0).kind == TrafficKind::Port;
    if (leadingPort_ && !startsWithPort) AppendPortLine(out, ports_[*leadingPort_]);
    for (std::size_t i = 0; i < events_.size(); ++i) {
        const EventView e = event(i);
        switch (e.kind) {
            case TrafficKind::Port:
                AppendPortLine(out, *e.port);
                break;
            case TrafficKind::Received:
                AppendReceivedLine(out, e.unixMicros, e.bytes);
                break;
            case TrafficKind::Sent:
                AppendSentLine(out, e.unixMicros, e.bytes[0]);
                break;
        }
    }
    return out;
}

Outcome TrafficRecord::SaveAs(const std::string& fileName) const {
    return WriteFileSafely(fileName, Format());
}

}  // namespace norva
