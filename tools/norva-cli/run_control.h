#pragma once

#include <QSocketNotifier>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "capture/capture_file_recorder.h"
#include "tools/norva-cli/deadline_timer.h"
#include "tools/norva-cli/session_summary.h"

namespace norva::cli {

std::chrono::microseconds Micros(double seconds);

// How a run ends and with which status: the first of its stops that comes counts (a count
// reached, --seconds, SIGINT or SIGTERM, --silence, a line lost), as the exit statuses say.
class RunControl {
public:
    struct Setup {
        std::optional<double> seconds;
        std::optional<double> silence;
        int signalFd = -1;  // readable once a stop signal came
        // When the acceptor last sent a byte (Unix microseconds; negative: never), and whether
        // its line is gone and waited for.
        std::function<std::int64_t()> lastHeard;
        std::function<bool()> lineLost;
        std::function<void(const std::string&)> notice;
    };

    explicit RunControl(Setup setup);

    void Finish(int code, const char* reason);
    // The event loop until a stop. A line still gone then is what the run shows: "port lost",
    // with lostText told.
    void Run(const std::string& lostText);

    int exitCode() const { return exitCode_; }
    void SetExitCode(int code) { exitCode_ = code; }
    const std::string& stopReason() const { return stopReason_; }
    double secondsRun() const;

private:
    void SilenceDue();

    Setup setup_;
    std::int64_t started_;
    int exitCode_ = 0;
    std::string stopReason_;
    DeadlineTimer secondsTimer_;
    DeadlineTimer silenceTimer_;
    std::unique_ptr<QSocketNotifier> stopSignals_;
};

// The --capture file of a run: started beside its target (refused when it is a file the run
// must not overwrite), put in place once the run is under way, and stopped with its failure in
// the status and the summary.
class RunCapture {
public:
    static Result<std::unique_ptr<RunCapture>> Start(
        const std::string& file, std::vector<ProtectedFile> protectedFiles,
        std::function<void(const std::string&)> notice);

    CaptureFileRecorder& recorder() { return *recorder_; }
    Outcome Commit() { return recorder_->Commit(); }
    void Stop(RunControl& run, SessionSummary& summary);

private:
    std::unique_ptr<CaptureFileRecorder> recorder_;
    std::function<void(const std::string&)> notice_;
    std::atomic<bool> failureTold_{false};
};

}  // namespace norva::cli
