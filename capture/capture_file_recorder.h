#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "protocol/traffic_sink.h"

namespace norva {

// Appends each event to a capture file as it happens. What is written reaches the disk at
// least once a second: Flush() is meant for a one-second timer, and an event that finds the
// last flush older than a second flushes too. A failure stops the recording and keeps its
// reason; the file then holds everything up to the failed write.
// Called on one thread, the one that runs the engine.
class CaptureFileRecorder : public TrafficSink {
public:
    // Creates or empties the file and writes the header, then the port the traffic is on now,
    // if there is one yet.
    explicit CaptureFileRecorder(std::string fileName, const PortIdentity* currentPort = nullptr);
    // Stops, as Stop() does.
    ~CaptureFileRecorder() override;
    CaptureFileRecorder(const CaptureFileRecorder&) = delete;
    CaptureFileRecorder& operator=(const CaptureFileRecorder&) = delete;

    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override;
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override;
    // A comment line in its place among the events (a tap's note on their order).
    void Comment(std::string_view text);

    // Writes what is waiting and makes the file durable.
    void Flush();
    // Flushes and closes; later events are not written. Returns error().
    std::string Stop();

    bool recording() const { return fd_ >= 0; }
    bool failed() const { return !error_.empty(); }
    // "Cannot create file NAME" or "Stream write error"; empty while all is well.
    const std::string& error() const { return error_; }
    // The system's reason, for the status bar.
    const std::string& reason() const { return reason_; }
    const std::string& fileName() const { return fileName_; }

private:
    using Clock = std::chrono::steady_clock;

    void AfterEvent();
    bool WriteOut();
    void Fail(std::string error, int errnoValue);

    std::string fileName_;
    int fd_ = -1;
    std::string pending_;
    bool unsynced_ = false;
    Clock::time_point lastFlush_;
    std::string error_;
    std::string reason_;
};

}  // namespace norva
