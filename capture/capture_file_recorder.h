#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"
#include "protocol/traffic_sink.h"

namespace norva {

// A file a recording must never overwrite, and what it is in words ("the serial device").
struct ProtectedFile {
    std::string path;
    std::string what;
};

// What the writer has to tell: the file was started again, or the recording failed and stopped.
struct RecorderNews {
    bool stopped = false;
    std::string text;  // names the file and the reason
};

// Appends each event to a capture file as it happens. A thread of its own writes the events and
// makes them durable (fdatasync) within syncWithin of their arrival, whatever the thread that
// hands them over is doing, so a crash or a frozen window loses at most a second. The file only
// ever ends in a whole line. A file deleted or moved away under it is started again under its
// name. A failure stops the recording and keeps its reason.
//
// Starting writes to a temporary file beside the target; Commit() puts it in place, so a start
// that goes no further leaves an old file as it was. Events, Commit() and Stop() come from one
// thread, the one that runs the engine.
class CaptureFileRecorder : public TrafficSink {
public:
    static constexpr std::chrono::milliseconds kSyncWithin{500};
    // Events waiting for a writer that is stuck (a hung disk) fail the recording beyond this.
    static constexpr std::size_t kMaxWaitingBytes = 8 << 20;

    struct Setup {
        std::string fileName;
        const PortIdentity* currentPort = nullptr;  // written after the header, if any yet
        std::vector<ProtectedFile> protectedFiles;
        // Called on the writer thread (or the caller's): hand the news over, do not act on it here.
        std::function<void(const RecorderNews&)> onNews;
        std::chrono::milliseconds syncWithin = kSyncWithin;
    };

    // Refuses a target that is not a regular file or is one of the protected files, naming it
    // with the reason; otherwise writes the header and the port to the temporary file.
    static Result<std::unique_ptr<CaptureFileRecorder>> Start(Setup setup);
    ~CaptureFileRecorder() override;  // Stop()
    CaptureFileRecorder(const CaptureFileRecorder&) = delete;
    CaptureFileRecorder& operator=(const CaptureFileRecorder&) = delete;

    // Writes and syncs what came so far, renames the file over the target and starts the writer.
    Outcome Commit();
    // Writes and syncs what is waiting, ends the writer and closes the file; later events are
    // not written. Before Commit() the temporary file is removed. The failure, if one stopped it.
    Outcome Stop();

    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override;
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override;
    // A comment line in its place among the events (a tap's note on their order).
    void Comment(std::string_view text);

    bool recording() const;
    Outcome failure() const;
    const std::string& fileName() const { return setup_.fileName; }
    std::uint64_t syncs() const { return syncs_; }
    std::uint64_t restarts() const { return restarts_; }

private:
    using Clock = std::chrono::steady_clock;

    CaptureFileRecorder(Setup setup, std::string target, std::string temp, UniqueFd fd);
    void Hand(std::string lines, const std::string* portLine);
    void Run();
    // These touch the file: before Commit() on the caller's thread, after it on the writer's.
    Outcome Append(std::string_view text);
    Outcome Sync();
    Outcome StartAgainIfGone(const std::string& portLine);
    Outcome WriteFailure(int osError, std::string reason = {}) const;
    void Tell(const RecorderNews& news) const;

    const Setup setup_;
    const std::string target_;  // the file the name resolves to
    std::string temp_;
    UniqueFd fd_;
    std::uint64_t fileBytes_ = 0;  // whole lines in the file
    bool unsynced_ = false;
    Clock::time_point syncDue_;
    bool committed_ = false;
    std::atomic<std::uint64_t> syncs_{0};
    std::atomic<std::uint64_t> restarts_{0};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string waiting_;
    std::string queuedPort_;   // the port line in effect after the last event handed over
    std::string writtenPort_;  // the one in effect after the last batch taken by the writer
    bool accepting_ = true;
    Outcome failure_;
    std::thread writer_;
};

}  // namespace norva
