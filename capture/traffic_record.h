#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "capture/capture_format.h"
#include "protocol/traffic_sink.h"

namespace norva {

// The whole traffic of a session in memory: 16 bytes an event, the received bytes in one
// arena, each port once per port change. Fed on the engine's thread and read there too.
class TrafficRecord : public TrafficSink {
public:
    struct EventView {
        TrafficKind kind;
        std::int64_t unixMicros;
        std::span<const std::uint8_t> bytes;  // the block, or the one byte sent
        const PortIdentity* port;             // a port event only
    };

    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override;
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override;

    std::size_t eventCount() const { return events_.size(); }
    // Oldest first. The view lives until the record next changes.
    EventView event(std::size_t index) const;
    // The port the latest traffic ran on, also after its port event was dropped.
    const PortIdentity* currentPort() const;

    // Everything the record holds on the heap and in itself.
    std::size_t MemoryBytes() const;
    void Clear();
    // Drops the oldest events; a budget keeps the record in bounds this way. The port the
    // remaining traffic started on is kept. Each call moves what remains, so trim by a good
    // share at a time rather than an event at a time.
    void DropOldest(std::size_t count);
    void DropOldestFraction(double fraction);

    // The capture text: the header, the port in effect at the oldest event, then each event.
    std::string Format() const;
    // Written through the safe writer; a failure carries the text for the error box.
    Outcome SaveAs(const std::string& fileName) const;

private:
    struct Event {
        std::int64_t unixMicros;
        std::uint32_t value;          // arena offset, the byte sent, or a port index
        std::uint32_t kindAndLength;  // kind in the top two bits
    };
    static_assert(sizeof(Event) == 16);

    void Push(std::int64_t unixMicros, TrafficKind kind, std::uint32_t value, std::uint32_t length);

    std::vector<Event> events_;
    std::vector<std::uint8_t> arena_;
    std::vector<PortIdentity> ports_;
    // The port that was in effect before the oldest event kept, when that one is not a port.
    std::optional<std::uint32_t> leadingPort_;
};

}  // namespace norva
