#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/traffic_reading.h"
#include "link/tap_order.h"
#include "protocol/traffic_sink.h"

namespace norva::cli {

// Ends each log line of a pair whose order the tap's inputs cannot vouch for.
inline constexpr std::string_view kOrderUncertainMarker = "  (order uncertain)";

// What a tap makes of the traffic it hears, in the order it hands it out: the protocol log the
// window would show had it been the host (the reading's lines for the acceptor's blocks, the
// "Send" line of each host byte), the capture (RX the acceptor's blocks, TX the host's bytes,
// a comment line before each pair of uncertain order) and the reading's tallies.
class TapSession : public TapOrder::Sink {
public:
    struct Setup {
        // Where the log lines go, each with its LF, and the notices, without; neither may block.
        std::function<void(std::string_view)> printLine;
        std::function<void(std::string_view)> printNotice;
        bool timestamps = false;  // each line after the time its first byte came
        ReadingOptions reading;   // no host profile: a tap does not know the host's settings
        PortIdentity host;
        PortIdentity device;
    };

    explicit TapSession(Setup setup);

    // Where the capture goes: its events, and its comment lines. Before Start.
    void SetCapture(TrafficSink* capture, std::function<void(std::string_view)> comment);
    // The tap's header line and the acceptor's port line, at the start.
    void Start(std::int64_t now, std::int64_t boundMicros);
    // The end of the session for the reading (notes still undecided, a silence up to it).
    void Finish(std::int64_t end);

    const TrafficTallies& tallies() const { return reading_.tallies(); }
    std::uint64_t uncertainPairs() const { return uncertainPairs_; }
    // When the acceptor's last byte came; kTimeUnknown before any.
    std::int64_t lastDeviceByte() const { return lastDeviceByte_; }
    // Called after each note stacked, once the tallies count it.
    std::function<void()> onStacked;

    // TapOrder::Sink
    void OrderUncertain(const UncertainOrder& pair) override;
    void Block(const TapBlock& block) override;
    void HostByte(std::int64_t time, std::uint8_t byte, bool uncertain) override;
    void LineChanged(TapSide side, bool gone, std::int64_t time) override;

    // "RX 80 8F 2026-..Z before TX 0C 2026-..Z, 0.812 ms of the 2.000 ms bound", for the capture.
    static std::string Describe(const UncertainOrder& pair, std::int64_t boundMicros);

private:
    struct Line {
        std::int64_t time;
        std::string text;
    };
    void Print(const Line& line, bool uncertain);

    Setup setup_;
    TrafficReading reading_;
    std::vector<Line> lines_;  // those of the item being handed out
    bool stacked_ = false;
    TrafficSink* capture_ = nullptr;
    std::function<void(std::string_view)> comment_;
    std::int64_t boundMicros_ = 0;
    std::uint64_t uncertainPairs_ = 0;
    std::int64_t lastDeviceByte_ = kTimeUnknown;
};

}  // namespace norva::cli
