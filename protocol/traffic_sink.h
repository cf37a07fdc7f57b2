#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/unix_time.h"

namespace norva {

// The port a stretch of traffic ran on: "COM1", the device it opened, the line settings.
struct PortIdentity {
    std::string portName;
    std::string devicePath;
    std::string modeString;
};

// Whoever keeps evidence of the traffic: told of every port opened, every block given to the
// engine and every byte that went out. Called on the thread that runs the engine, in the order
// the traffic happened.
class TrafficSink {
public:
    virtual ~TrafficSink() = default;

    // A port selection or a reconnection opened this port; the traffic after it runs there.
    virtual void PortOpened(std::int64_t unixMicros, const PortIdentity& port) = 0;
    // One block exactly as the engine is given it, timed at the arrival of its first byte.
    virtual void Received(std::int64_t firstByteUnixMicros,
                          std::span<const std::uint8_t> block) = 0;
    // Just before Received: when the block's last byte arrived, for whoever times the answers.
    virtual void BlockEnded(std::int64_t lastByteUnixMicros) { (void)lastByteUnixMicros; }
    // One byte written to the port, timed when it was written.
    virtual void Sent(std::int64_t unixMicros, std::uint8_t byte) = 0;
};

}  // namespace norva
