#include <signal.h>

#include <QCoreApplication>
#include <QTimer>
#include <memory>

#include "capture/traffic_reading.h"
#include "link/acceptor_link.h"
#include "norva_version.h"
#include "picture/report_command.h"
#include "protocol/shared_state.h"
#include "serial/port_name.h"
#include "textfile/printable.h"
#include "tools/common/stop_signals.h"
#include "tools/norva-cli/captions.h"
#include "tools/norva-cli/cli_options.h"
#include "tools/norva-cli/run_control.h"
#include "tools/norva-cli/standard_streams.h"
#include "tools/norva-cli/tap_run.h"
#include "tools/norva-cli/terminal_front.h"

using namespace norva;
using namespace norva::cli;

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
    // SIGINT and SIGTERM end the run through the event loop, so the summary is printed.
    const int signalFd = norva::tools::StopSignalDescriptor({SIGINT, SIGTERM});
    if (o.tapped()) return RunTap(o, streams, signalFd);
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
    TerminalFront front(setup);
    const auto notice = [&front](const std::string& text) { front.Notice(text); };
    if (!captions->notice.empty()) front.Notice(captions->notice);
    ResetSharedState();
    AcceptorLink link(front);
    link.AddTrafficSink(&front);
    // What the session did, read from its traffic as the engine has it; a stop on the notes
    // counted there.
    std::function<void()> stacked;
    ReadingOptions host;
    host.host = HostProfile{o.ticked, setup.captions, setup.noEscrow ? 1 : 0};
    TrafficReading reading(host, [&stacked](const TrafficEvent& e) {
        if (e.kind == EventKind::Stacked && stacked) stacked();
    });
    link.AddTrafficSink(&reading);

    const std::string portName = o.portNumber != 0 ? PortName(o.portNumber) : "";
    std::unique_ptr<RunCapture> capture;
    if (!o.capture.empty()) {
        std::string device = o.device;
        if (device.empty()) {
            const Result<PortDevice> mapped = DeviceForPort(portName);
            if (mapped.ok()) device = mapped->path;
        }
        Result<std::unique_ptr<RunCapture>> started = RunCapture::Start(
            o.capture, {{device, "the serial device"}, {o.valuesFile, "the --values file"}},
            notice);
        if (!started.ok()) return refuse(started.Describe(), kExitUsage);
        capture = std::move(started).value();
        link.AddTrafficSink(&capture->recorder());
    }

    const SelectionOutcome opened = link.OpenDirect(portName, o.device);
    if (opened.kind != SelectionOutcome::Kind::Opened) {
        front.Notice(std::string(kPortOpenErrorText) + " " + opened.text);
        capture.reset();  // an old capture stays as it was
        return streams.End(kExitPortLost, {});
    }
    if (!opened.text.empty()) front.Notice(opened.text);
    // The port line is in: the new capture takes the old one's place.
    if (capture) {
        if (const Outcome committed = capture->Commit(); !committed.ok()) {
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

    RunControl run({o.seconds, o.silence, signalFd, [&front] { return front.lastReceivedMicros(); },
                    [&link] { return link.waitingForDevice(); }, notice});
    stacked = [&] {
        if (o.notes && reading.tallies().stacked >= *o.notes) run.Finish(kExitStopped, "notes");
    };
    // The operator's part: the polling timer and the decisions on held notes.
    link.SetPollHandler([&] { link.Commands().Poll(); });
    if (o.pollMs > 0) link.PollTimer()->start(o.pollMs);
    front.onDecisionAwaited = [&] {
        QTimer::singleShot(o.decisionDelayMs, &link, [&] {
            if (AwaitingDecision != 1) return;  // a reset or the acceptor ended it first
            if (o.escrow == EscrowMode::Reject)
                link.Commands().Reject();
            else
                link.Commands().Accept();
        });
    };
    if (o.enable) {
        // As an operator would: once the power-up has been answered, on the next turn.
        front.onEnableOffered = [&] {
            QTimer::singleShot(0, &link, [&] {
                if (front.EnableButtonCaption() == kEnableBaCaption) link.Commands().ToggleEnable();
            });
        };
    }

    run.Run("The port was lost and did not come back");
    link.Close();
    reading.Finish();

    SessionSummary summary(reading.tallies());
    if (capture) capture->Stop(run, summary);
    summary.secondsRun = run.secondsRun();
    summary.stopReason = run.stopReason();
    summary.linesDropped = streams.droppedLines();
    return streams.End(run.exitCode(), o.json ? summary.Json() : summary.Text());
}
