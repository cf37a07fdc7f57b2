#include "tools/norva-cli/run_control.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdio>

#include "tools/norva-cli/cli_options.h"

namespace norva::cli {

std::chrono::microseconds Micros(double seconds) {
    return std::chrono::microseconds(std::llround(seconds * 1e6));
}

RunControl::RunControl(Setup setup)
    : setup_(std::move(setup)),
      started_(UnixMicrosNow()),
      secondsTimer_([this] { Finish(kExitStopped, "seconds"); }),
      silenceTimer_([this] { SilenceDue(); }) {
    if (setup_.seconds) secondsTimer_.StartIn(Micros(*setup_.seconds));
    // One wake-up per silence period: the timer is set for when the silence would be too long.
    if (setup_.silence) silenceTimer_.StartIn(Micros(*setup_.silence));
    if (setup_.signalFd >= 0) {
        stopSignals_ = std::make_unique<QSocketNotifier>(setup_.signalFd, QSocketNotifier::Read);
        QObject::connect(stopSignals_.get(), &QSocketNotifier::activated,
                         [this] { Finish(kExitStopped, "signal"); });
    }
}

void RunControl::Finish(int code, const char* reason) {
    if (!stopReason_.empty()) return;
    exitCode_ = code;
    stopReason_ = reason;
    QCoreApplication::exit(code);
}

void RunControl::Run(const std::string& lostText) {
    QCoreApplication::exec();
    // The stop reason and the status agree: a line still gone at the end is what the run shows.
    if (setup_.lineLost()) {
        exitCode_ = kExitPortLost;
        stopReason_ = "port lost";
        setup_.notice(lostText);
    }
}

double RunControl::secondsRun() const {
    return static_cast<double>(UnixMicrosNow() - started_) / 1e6;
}

void RunControl::SilenceDue() {
    const std::int64_t heard = setup_.lastHeard();
    const std::int64_t last = heard >= 0 ? heard : started_;
    const std::int64_t due = last + Micros(*setup_.silence).count() - UnixMicrosNow();
    if (due > 0) {
        silenceTimer_.StartIn(std::chrono::microseconds(due));
    } else if (!setup_.lineLost()) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", *setup_.silence);
        setup_.notice(std::string("The acceptor sent nothing for ") + seconds + " s");
        Finish(kExitSilent, "silence");
    } else {
        Finish(kExitPortLost, "port lost");
    }
}

Result<std::unique_ptr<RunCapture>> RunCapture::Start(
    const std::string& file, std::vector<ProtectedFile> protectedFiles,
    std::function<void(const std::string&)> notice) {
    std::unique_ptr<RunCapture> run(new RunCapture);
    run->notice_ = std::move(notice);
    CaptureFileRecorder::Setup capture;
    capture.fileName = file;
    capture.protectedFiles = std::move(protectedFiles);
    // On the recorder's thread: the notice goes to a stream that takes it from any thread.
    capture.onNews = [raw = run.get()](const RecorderNews& news) {
        if (news.stopped) raw->failureTold_ = true;
        raw->notice_("norva-cli: " + news.text);
    };
    Result<std::unique_ptr<CaptureFileRecorder>> made = CaptureFileRecorder::Start(capture);
    if (!made.ok()) return made.outcome();
    run->recorder_ = std::move(made).value();
    return run;
}

void RunCapture::Stop(RunControl& run, SessionSummary& summary) {
    const Outcome stopped = recorder_->Stop();
    if (!stopped.ok() && !failureTold_) notice_(stopped.Describe());
    if (!stopped.ok() && run.exitCode() == kExitStopped) run.SetExitCode(kExitCaptureLost);
    summary.capture = {recorder_->fileName(), recorder_->restarts(),
                       stopped.ok() ? "" : stopped.Describe()};
}

}  // namespace norva::cli
