#pragma once

#include <algorithm>
#include <vector>

#include "protocol/traffic_sink.h"

namespace norva {

// Hands each event on to every sink added, in the order they were added, so a test can feed the
// record and a recording file the same traffic.
class TrafficTee : public TrafficSink {
public:
    void Add(TrafficSink* sink) {
        if (sink && std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end())
            sinks_.push_back(sink);
    }
    void Remove(TrafficSink* sink) { std::erase(sinks_, sink); }

    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override {
        for (TrafficSink* sink : sinks_)
            sink->PortOpened(unixMicros, port);
    }
    void BlockEnded(std::int64_t lastByteUnixMicros) override {
        for (TrafficSink* sink : sinks_)
            sink->BlockEnded(lastByteUnixMicros);
    }
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override {
        for (TrafficSink* sink : sinks_)
            sink->Received(firstByteUnixMicros, block);
    }
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override {
        for (TrafficSink* sink : sinks_)
            sink->Sent(unixMicros, byte);
    }

private:
    std::vector<TrafficSink*> sinks_;
};

}  // namespace norva
