#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

#include "billvalues/bill_values.h"
#include "capture/capture_file_recorder.h"
#include "link/acceptor_link.h"
#include "norva_version.h"
#include "picture/report_command.h"
#include "protocol/shared_state.h"
#include "serial/port_name.h"
#include "textfile/printable.h"
#include "tools/common/stop_signals.h"
#include "tools/norva-cli/cli_options.h"
#include "tools/norva-cli/deadline_timer.h"
#include "tools/norva-cli/stream_writer.h"
#include "tools/norva-cli/terminal_front.h"

using namespace norva;
using namespace norva::cli;

namespace {

// What standard output may hold that its reader has not taken yet; lines beyond it are dropped.
constexpr std::size_t kOutputBufferBytes = 1 << 20;
constexpr std::size_t kErrorBufferBytes = 64 << 10;
// At the end, how long standard output may take nothing before the summary goes to standard
// error instead.
constexpr std::chrono::seconds kSummaryPatience{2};

// Descriptors 0 to 2 closed at start would be taken by the first files opened (the stop signal's
// pipe, the port) and get the output. Each is taken by /dev/null instead; which were closed.
std::array<bool, 3> TakeStandardDescriptors() {
    std::array<bool, 3> closed{};
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed[static_cast<std::size_t>(fd)] = true;
        // The lowest free number is this one.
        if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) break;
    }
    return closed;
}

// Standard output and error, neither of which may hold up the protocol.
class Streams {
public:
    explicit Streams(bool outputClosed)
        : err_(STDERR_FILENO, "standard error", kErrorBufferBytes),
          out_(STDOUT_FILENO, "standard output", kOutputBufferBytes,
               [this](const Outcome& failure) { Lost(failure); }) {
        if (!outputClosed) return;
        const Outcome closed = Outcome::Failed("standard output", 0, "closed");
        out_.MarkFailed(closed);
        Lost(closed);
    }

    void Line(std::string_view line) { (void)out_.Write(line); }
    void Notice(std::string_view text) { (void)err_.Write(text); }
    std::uint64_t droppedLines() const { return out_.droppedLines(); }

    // Writes the last text (the summary, the help) and waits for both streams as long as they
    // take bytes. Standard output that failed or stalls: the text goes to standard error, and
    // a status that says all went well becomes kExitOutputLost.
    int End(int status, const std::string& last) {
        out_.WriteAlways(last);
        const bool delivered = out_.Finish(kSummaryPatience);
        if (!delivered) {
            if (out_.failure().ok())
                Notice("norva-cli: standard output took nothing for 2 s; the summary follows\n");
            err_.WriteAlways(last);
        }
        (void)err_.Finish(kSummaryPatience);
        return !delivered && status == kExitStopped ? kExitOutputLost : status;
    }

private:
    void Lost(const Outcome& failure) {
        Notice("norva-cli: " + failure.Describe() +
               "; the log lines go no further, the summary comes here\n");
    }

    StreamWriter err_;
    StreamWriter out_;
};

// The captions the window's tick boxes would carry: channel n is n, then the file's lines. A
// missing default file is what the window meets at start, a notice; a named file must be there.
struct Captions {
    std::array<std::string, kChannelCount> texts;
    std::string notice;
};

Result<Captions> LoadCaptions(const Options& o) {
    Captions captions;
    const BillValueEntries defaults = DefaultBillValues();
    std::copy(defaults.begin(), defaults.end(), captions.texts.begin());
    const Result<TextLines> file = ReadTextLines(o.valuesFile, kChannelCount);
    if (!file.ok() && o.valuesFileGiven) return file.outcome();
    if (!file.ok()) {
        captions.notice = file.Describe() + "; channel n is worth n";
        return captions;
    }
    ApplyBillValueLines(file.value(), [&](int channel, const std::string& text) {
        captions.texts[static_cast<std::size_t>(channel - 1)] = text;
    });
    return captions;
}

std::chrono::microseconds Micros(double seconds) {
    return std::chrono::microseconds(std::llround(seconds * 1e6));
}

}  // namespace

int main(int argc, char** argv) {
    const std::array<bool, 3> closedAtStart = TakeStandardDescriptors();
    // A reader gone shows as EPIPE on a write, reported like any other failure.
    ::signal(SIGPIPE, SIG_IGN);
    // A report draws, which takes QtGui's application rather than the core one.
    if (const Result<Options> report =
            ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
        report.ok() && !report->report.empty() && !report->help && !report->version)
        return picture::RunReportCommand(report->report, report->from, report->json, argv[0]);
    QCoreApplication app(argc, argv);
    Streams streams(closedAtStart[1]);
    const auto refuse = [&streams](const std::string& why, int status) {
        streams.Notice("norva-cli: " + Printable(why) + "\n");
        return streams.End(status, {});
    };

    const Result<Options> parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) {
        streams.Notice("norva-cli: " + Printable(parsed.text()) + "\n\n" + UsageText());
        return streams.End(kExitUsage, {});
    }
    const Options& o = parsed.value();
    if (o.help || o.version)
        return streams.End(kExitStopped, o.help ? UsageText() : VersionText("norva-cli"));
    // A file the arguments name that cannot be used is named with the reason alone.
    const Result<Captions> captions = LoadCaptions(o);
    if (!captions.ok()) return refuse(captions.Describe(), kExitUsage);

    TerminalFront::Setup setup;
    setup.printLine = [&streams](std::string_view line) { streams.Line(line); };
    setup.printNotice = [&streams](std::string_view text) { streams.Notice(text); };
    setup.timestamps = o.timestamps;
    setup.ticked = o.ticked;
    setup.captions = captions->texts;
    setup.noEscrow = o.escrow == EscrowMode::NoEscrow;
    // SIGINT and SIGTERM end the run through the event loop, so the summary is printed.
    const int signalFd = norva::tools::StopSignalDescriptor({SIGINT, SIGTERM});
    TerminalFront front(setup);
    if (!captions->notice.empty()) front.Notice(captions->notice);
    ResetSharedState();
    AcceptorLink link(front);
    link.AddTrafficSink(&front);

    const std::string portName = o.portNumber != 0 ? "COM" + std::to_string(o.portNumber) : "";
    std::unique_ptr<CaptureFileRecorder> recorder;
    std::atomic<bool> captureFailureTold{false};
    if (!o.capture.empty()) {
        CaptureFileRecorder::Setup capture;
        capture.fileName = o.capture;
        std::string device = o.device;
        if (device.empty()) {
            const Result<PortDevice> mapped = DeviceForPort(portName);
            if (mapped.ok()) device = mapped->path;
        }
        capture.protectedFiles = {{device, "the serial device"},
                                  {o.valuesFile, "the --values file"}};
        // On the recorder's thread: the standard error stream takes it from any thread.
        capture.onNews = [&](const RecorderNews& news) {
            if (news.stopped) captureFailureTold = true;
            streams.Notice("norva-cli: " + Printable(news.text) + "\n");
        };
        Result<std::unique_ptr<CaptureFileRecorder>> made = CaptureFileRecorder::Start(capture);
        if (!made.ok()) return refuse(made.Describe(), kExitUsage);
        recorder = std::move(made).value();
        link.AddTrafficSink(recorder.get());
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

    const SelectionOutcome opened = link.OpenDirect(portName, o.device);
    if (opened.kind != SelectionOutcome::Kind::Opened) {
        front.Notice("The COMPort open error ! " + opened.text);
        recorder.reset();  // an old capture stays as it was
        return streams.End(kExitPortLost, {});
    }
    if (!opened.text.empty()) front.Notice(opened.text);
    // The port line is in: the new capture takes the old one's place.
    if (recorder) {
        if (const Outcome committed = recorder->Commit(); !committed.ok()) {
            link.Close();
            return refuse(committed.Describe(), kExitCaptureLost);
        }
    }
    QObject::connect(&link, &AcceptorLink::DeviceGone,
                     [&](const QString& text) { front.Notice(text.toStdString()); });
    QObject::connect(&link, &AcceptorLink::DeviceBack,
                     [&](const QString& text) { front.Notice(text.toStdString()); });
    QObject::connect(&link, &AcceptorLink::RivalOpened,
                     [&](const QString& text) { front.Notice(text.toStdString()); });

    // The operator's part: the polling timer and the decisions on held notes.
    const auto asOperator = [&](auto command) {
        front.SetOperatorSending(true);
        command();
        front.SetOperatorSending(false);
    };
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

    DeadlineTimer secondsTimer([&] { finish(kExitStopped, "seconds"); });
    if (o.seconds) secondsTimer.StartIn(Micros(*o.seconds));
    // One wake-up per silence period: the timer is set for when the silence would be too long.
    const std::chrono::microseconds silence = o.silence ? Micros(*o.silence) : Micros(0);
    DeadlineTimer silenceTimer([&] {
        const std::int64_t last =
            front.lastReceivedMicros() >= 0 ? front.lastReceivedMicros() : started;
        const std::int64_t due = last + silence.count() - UnixMicrosNow();
        if (due > 0) {
            silenceTimer.StartIn(std::chrono::microseconds(due));
        } else if (!link.waitingForDevice()) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", *o.silence);
            front.Notice(std::string("The acceptor sent nothing for ") + seconds + " s");
            finish(kExitSilent, "silence");
        } else {
            finish(kExitPortLost, "port lost");
        }
    });
    if (o.silence) silenceTimer.StartIn(silence);
    QSocketNotifier stopSignals(signalFd, QSocketNotifier::Read);
    QObject::connect(&stopSignals, &QSocketNotifier::activated,
                     [&] { finish(kExitStopped, "signal"); });

    app.exec();
    // The stop reason and the status agree: a port still gone at the end is what the run shows.
    if (link.waitingForDevice()) {
        exitCode = kExitPortLost;
        stopReason = "port lost";
        front.Notice("The port was lost and did not come back");
    }
    link.Close();

    SessionSummary summary = front.summary();
    if (recorder) {
        const Outcome stopped = recorder->Stop();
        if (!stopped.ok() && !captureFailureTold) front.Notice(stopped.Describe());
        if (!stopped.ok() && exitCode == kExitStopped) exitCode = kExitCaptureLost;
        summary.capture = {o.capture, recorder->restarts(), stopped.ok() ? "" : stopped.Describe()};
    }
    summary.rejectedByPolicy = rejectedByPolicy;
    summary.bytesIgnored = link.Engine().bytesIgnored();
    summary.secondsRun = static_cast<double>(UnixMicrosNow() - started) / 1e6;
    summary.stopReason = stopReason;
    summary.linesDropped = streams.droppedLines();
    return streams.End(exitCode, o.json ? summary.Json() : summary.Text());
}
