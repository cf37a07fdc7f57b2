#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "billvalues/bill_values.h"
#include "capture/capture_file_recorder.h"
#include "link/acceptor_link.h"
#include "protocol/shared_state.h"
#include "serial/comm_ini.h"
#include "tools/common/stop_signals.h"
#include "tools/norva-cli/cli_options.h"
#include "tools/norva-cli/terminal_front.h"

using namespace norva;
using namespace norva::cli;

namespace {

int Usage(const std::string& why) {
    std::fprintf(stderr, "norva-cli: %s\n\n%s", why.c_str(), UsageText().c_str());
    return kExitUsage;
}

// The captions the window's tick boxes would carry: channel n is n, then the file's lines.
// A missing default file is what the window meets at start; a named file must be there.
bool LoadCaptions(const Options& o, std::array<std::string, 16>& captions, std::string& error) {
    const BillValueEntries defaults = DefaultBillValues();
    std::copy(defaults.begin(), defaults.end(), captions.begin());
    const Result<TextLines> file = ReadTextLines(o.valuesFile, kChannelCount);
    if (!file.ok()) {
        error = file.Describe();
        return !o.valuesFileGiven;
    }
    ApplyBillValueLines(file.value(), [&](int channel, const std::string& text) {
        captions[static_cast<std::size_t>(channel - 1)] = text;
    });
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) return Usage(parsed.error);
    const Options& o = parsed.options;
    if (o.help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitStopped;
    }

    TerminalFront::Setup setup;
    setup.timestamps = o.timestamps;
    setup.ticked = o.ticked;
    setup.noEscrow = o.escrow == EscrowMode::NoEscrow;
    std::string valuesError;
    if (!LoadCaptions(o, setup.captions, valuesError)) return Usage(valuesError);

    QCoreApplication app(argc, argv);
    // SIGINT and SIGTERM end the run through the event loop, so the summary is printed.
    const int signalFd = norva::tools::StopSignalDescriptor({SIGINT, SIGTERM});
    TerminalFront front(setup);
    if (!valuesError.empty()) front.Notice(valuesError + "; channel n is worth n");
    ResetSharedState();
    AcceptorLink link(front);
    link.AddTrafficSink(&front);

    std::unique_ptr<CaptureFileRecorder> recorder;
    QTimer flushTimer;
    if (!o.capture.empty()) {
        recorder = std::make_unique<CaptureFileRecorder>(o.capture);
        if (recorder->failed()) return Usage(recorder->error() + ": " + recorder->reason());
        link.AddTrafficSink(recorder.get());
        QObject::connect(&flushTimer, &QTimer::timeout, [&] { recorder->Flush(); });
        flushTimer.start(1000);
    }

    const auto started = UnixMicrosNow();
    int exitCode = kExitStopped;
    std::string stopReason;
    const auto finish = [&](int code, const char* reason) {
        if (!stopReason.empty()) return;
        exitCode = code;
        stopReason = reason;
        QCoreApplication::exit(code);
    };

    const std::string portName = o.portNumber != 0 ? "COM" + std::to_string(o.portNumber) : "";
    const SelectionOutcome opened = link.OpenDirect(portName, o.device);
    if (opened.kind != SelectionOutcome::Kind::Opened) {
        front.Notice("The COMPort open error ! " + opened.text);
        return kExitPortLost;
    }
    if (!opened.text.empty()) front.Notice(opened.text);
    QObject::connect(&link, &AcceptorLink::DeviceGone,
                     [&](const QString& text) { front.Notice(text.toStdString()); });
    QObject::connect(&link, &AcceptorLink::DeviceBack,
                     [&](const QString& text) { front.Notice(text.toStdString()); });

    // The operator's part: the polling timer and the decisions on held notes.
    const auto asOperator = [&](auto command) {
        front.SetOperatorSending(true);
        command();
        front.SetOperatorSending(false);
        std::fflush(stdout);
    };
    QObject::connect(&link, &AcceptorLink::BlocksHandled, [] { std::fflush(stdout); });
    link.SetPollHandler([&] { asOperator([&] { link.Commands().Poll(); }); });
    if (o.pollMs > 0) link.PollTimer()->start(o.pollMs);
    std::uint64_t rejectedByPolicy = 0;
    front.onDecisionAwaited = [&] {
        QTimer::singleShot(o.decisionDelayMs, &link, [&] {
            if (AwaitingDecision != 1) return;  // a reset or the acceptor ended it first
            if (o.escrow == EscrowMode::Reject) {
                ++rejectedByPolicy;
                asOperator([&] { link.Commands().Reject(); });
            } else {
                asOperator([&] { link.Commands().Accept(); });
            }
        });
    };
    if (o.enable) {
        // As an operator would: once the power-up has been answered, on the next turn.
        front.onEnableOffered = [&] {
            QTimer::singleShot(0, &link, [&] {
                if (front.EnableButtonCaption() == "Enable BA")
                    asOperator([&] { link.Commands().ToggleEnable(); });
            });
        };
    }
    front.onStacked = [&] {
        if (o.notes && front.summary().StackedTotal() >= *o.notes) finish(kExitStopped, "notes");
    };

    if (o.seconds) {
        QTimer::singleShot(static_cast<int>(*o.seconds * 1000), &app,
                           [&] { finish(kExitStopped, "seconds"); });
    }
    // One wake-up per silence period: the timer is set for when the silence would be too long.
    QTimer silenceTimer;
    silenceTimer.setSingleShot(true);
    if (o.silence) {
        const auto silenceMicros = static_cast<std::int64_t>(*o.silence * 1e6);
        QObject::connect(&silenceTimer, &QTimer::timeout, [&, silenceMicros] {
            const std::int64_t last =
                front.lastReceivedMicros() >= 0 ? front.lastReceivedMicros() : started;
            const std::int64_t due = last + silenceMicros - UnixMicrosNow();
            if (due > 0) {
                silenceTimer.start(static_cast<int>(due / 1000) + 1);
            } else {
                finish(link.waitingForDevice() ? kExitPortLost : kExitSilent,
                       link.waitingForDevice() ? "port lost" : "silence");
            }
        });
        silenceTimer.start(static_cast<int>(silenceMicros / 1000) + 1);
    }
    QSocketNotifier stopSignals(signalFd, QSocketNotifier::Read);
    QObject::connect(&stopSignals, &QSocketNotifier::activated,
                     [&] { finish(kExitStopped, "signal"); });

    app.exec();
    const bool lost = link.waitingForDevice();
    link.Close();
    if (recorder) {
        if (const std::string error = recorder->Stop(); !error.empty()) front.Notice(error);
    }
    if (exitCode == kExitStopped && lost) {
        exitCode = kExitPortLost;
        front.Notice("The port was lost and did not come back");
    }

    SessionSummary summary = front.summary();
    summary.rejectedByPolicy = rejectedByPolicy;
    summary.bytesIgnored = link.Engine().bytesIgnored();
    summary.secondsRun = static_cast<double>(UnixMicrosNow() - started) / 1e6;
    summary.stopReason = stopReason;
    const std::string text = o.json ? summary.Json() : summary.Text();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return exitCode;
}
