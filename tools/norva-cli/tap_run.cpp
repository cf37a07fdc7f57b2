#include "tools/norva-cli/tap_run.h"

#include <cstdio>
#include <functional>

#include "link/tap.h"
#include "serial/port_name.h"
#include "textfile/printable.h"
#include "tools/norva-cli/captions.h"
#include "tools/norva-cli/run_control.h"
#include "tools/norva-cli/tap_session.h"

namespace norva::cli {

namespace {

// "COMn" names a port, mapped as everywhere (with the mapping's warning, if any); anything
// else is a device's path.
Result<PortIdentity> LineOf(const std::string& given, const std::string& mode,
                            const std::function<void(const std::string&)>& notice) {
    if (!PortNumberOfName(given)) return PortIdentity{"", given, mode};
    const Result<PortDevice> mapped = DeviceForPort(given);
    if (!mapped.ok()) return mapped.outcome();
    if (!mapped->warning.empty()) notice(mapped->warning);
    return PortIdentity{given, mapped->path, mode};
}

std::string Named(const PortIdentity& port) {
    return (port.portName.empty() ? std::string() : port.portName + " ") + port.devicePath;
}

}  // namespace

int RunTap(const Options& o, Streams& streams, int signalFd) {
    const auto notice = [&streams](const std::string& text) {
        streams.Notice(Printable(text) + "\n");
    };
    const auto refuse = [&](const std::string& why, int status) {
        notice("norva-cli: " + why);
        return streams.End(status, {});
    };
    TapSession::Setup setup;
    setup.printLine = [&streams](std::string_view line) { streams.Line(line); };
    setup.printNotice = [&notice](std::string_view text) { notice(std::string(text)); };
    setup.timestamps = o.timestamps;
    const Result<PortIdentity> host = LineOf(o.tapHost, o.mode, notice);
    const Result<PortIdentity> device = LineOf(o.tapDevice, o.mode, notice);
    if (!host.ok() || !device.ok()) {
        notice("The tap's lines did not open: " + (host.ok() ? device : host).text());
        return streams.End(kExitPortLost, {});
    }
    setup.host = host.value();
    setup.device = device.value();
    // The host's values are its own: the tap knows them only when told.
    if (o.valuesFileGiven) {
        const Result<Captions> captions = LoadCaptions(o);
        if (!captions.ok()) return refuse(captions.Describe(), kExitUsage);
        setup.reading.values = captions->texts;
    }

    std::unique_ptr<RunCapture> capture;
    if (!o.capture.empty()) {
        Result<std::unique_ptr<RunCapture>> started =
            RunCapture::Start(o.capture,
                              {{setup.host.devicePath, "the tap's host line"},
                               {setup.device.devicePath, "the tap's device line"},
                               {o.valuesFile, "the --values file"}},
                              notice);
        if (!started.ok()) return refuse(started.Describe(), kExitUsage);
        capture = std::move(started).value();
    }
    TapSession session(setup);
    if (capture) {
        session.SetCapture(&capture->recorder(), [&capture](std::string_view text) {
            capture->recorder().Comment(text);
        });
    }
    TapLink tap(session);
    QObject::connect(&tap, &TapLink::RivalOpened,
                     [&notice](const QString& text) { notice(text.toStdString()); });
    const Result<std::string> opened =
        tap.Open(setup.host, setup.device, std::int64_t{o.orderBoundMs} * 1000);
    if (!opened.ok()) {
        notice("The tap's lines did not open: " + opened.text());
        capture.reset();  // an old capture stays as it was
        return streams.End(kExitPortLost, {});
    }
    if (!opened->empty()) notice(opened.value());
    char bound[64];
    std::snprintf(bound, sizeof bound, "%.3f ms", static_cast<double>(tap.boundMicros()) / 1000);
    notice("tap: host " + Named(setup.host) + ", device " + Named(setup.device) +
           "; order within " + bound + " is marked uncertain");
    session.Start(UnixMicrosNow(), tap.boundMicros());
    if (capture) {
        if (const Outcome committed = capture->Commit(); !committed.ok()) {
            tap.Close();
            return refuse(committed.Describe(), kExitCaptureLost);
        }
    }

    RunControl run({o.seconds, o.silence, signalFd, [&session] { return session.lastDeviceByte(); },
                    [&tap] { return tap.waiting(TapSide::Host) || tap.waiting(TapSide::Device); },
                    notice});
    session.onStacked = [&] {
        if (o.notes && session.tallies().stacked >= *o.notes) run.Finish(kExitStopped, "notes");
    };
    run.Run("A tap's line was lost and did not come back");
    tap.Close();
    session.Finish(UnixMicrosNow());

    SessionSummary summary(session.tallies());
    summary.tap = SessionSummary::Tap{session.uncertainPairs(), tap.boundMicros()};
    if (capture) capture->Stop(run, summary);
    summary.secondsRun = run.secondsRun();
    summary.stopReason = run.stopReason();
    summary.linesDropped = streams.droppedLines();
    return streams.End(run.exitCode(), o.json ? summary.Json() : summary.Text());
}

}  // namespace norva::cli
