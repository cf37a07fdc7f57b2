#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "norva_version.h"
#include "tools/acceptor-sim/commands.h"
#include "tools/acceptor-sim/console.h"
#include "tools/acceptor-sim/options.h"
#include "tools/acceptor-sim/replay.h"
#include "tools/acceptor-sim/serial_line.h"
#include "tools/acceptor-sim/simulator.h"
#include "tools/acceptor-sim/tap_links.h"
#include "tools/common/stop_signals.h"

using namespace norva::sim;
using norva::Result;

namespace {

// A standard descriptor left closed by the caller would otherwise be handed to the
// pseudo-terminal, and traffic lines would go out on the line itself.
void FillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
}

int Fail(int code, const std::string& why) {
    std::fprintf(stderr, "norva-acceptor-sim: %s\n", why.c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    FillStandardDescriptors();
    const Result<Options> parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) return Fail(kExitUsage, parsed.Describe());
    const Options& options = parsed.value();
    if (options.help || options.version) {
        const std::string text = options.help ? UsageText() : norva::VersionText(kProgramName);
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitOk : kExitUsage;
    }

    std::optional<Script> script;
    if (!options.script.empty()) {
        Result<Script> loaded = LoadScript(options.script);
        if (!loaded.ok()) return Fail(kExitScript, loaded.Describe());
        script = std::move(loaded).value();
    }
    // The whole capture is checked before anything is played, then played as it is read again.
    std::optional<ReplayFeed> feed;
    ReplayFeed::Totals totals;
    if (!options.replay.empty()) {
        Result<norva::CaptureReader> reader = norva::CaptureReader::Open(options.replay);
        if (!reader.ok()) return Fail(kExitScript, reader.Describe());
        feed.emplace(std::move(reader).value());
        const Result<ReplayFeed::Totals> checked = feed->Check();
        if (!checked.ok()) return Fail(kExitScript, checked.Describe());
        totals = checked.value();
        if (totals.blocks == 0) return Fail(kExitScript, options.replay + ": no RX line to play");
    }

    const std::initializer_list<int> stopSignals{SIGINT, SIGTERM, SIGHUP};
    const int stopFd = norva::tools::StopSignalDescriptor(stopSignals);
    if (stopFd < 0) return Fail(kExitDevice, "cannot make the stop pipe");
    RemoveLinksOnSecondSignal(stopSignals);

    auto made =
        options.device.empty() ? SerialLine::CreatePty() : SerialLine::OpenDevice(options.device);
    if (!made.ok()) return Fail(kExitDevice, made.Describe());
    const std::unique_ptr<SerialLine> line = std::move(made).value();
    std::unique_ptr<SymbolicLink> link;
    if (!options.link.empty()) {
        auto linked = SymbolicLink::Create(options.link, line->path());
        if (!linked.ok()) return Fail(kExitDevice, linked.Describe());
        link = std::move(linked).value();
    }
    std::unique_ptr<TapLinks> taps;
    if (!options.tapHostLink.empty()) {
        auto tapped = TapLinks::Create(options.tapHostLink, options.tapDeviceLink);
        if (!tapped.ok()) return Fail(kExitDevice, tapped.Describe());
        taps = std::move(tapped).value();
    }
    const std::string first = (line->isPty() ? "pty " : "device ") + line->path();

    if (feed) {
        WriteAll(STDOUT_FILENO, first + "\n");
        const auto start = std::chrono::steady_clock::now();
        if (taps) TellLine(STDERR_FILENO, start, "--", taps->Describe());
        char text[64];
        std::snprintf(text, sizeof text, ": %zu blocks, %zu answers expected, speed %g",
                      totals.blocks, totals.answers, options.replaySpeed.value_or(1.0));
        TellLine(STDERR_FILENO, start, "--", "replay " + options.replay + text);
        ReplaySetup replay;
        replay.lineFd = line->fd();
        replay.lineIsPty = line->isPty();
        replay.line = line.get();
        replay.outFd = STDOUT_FILENO;
        replay.errFd = STDERR_FILENO;
        replay.stopFd = stopFd;
        replay.speed = options.replaySpeed.value_or(1.0);
        replay.taps = taps.get();
        replay.totals = totals;
        return Replayer(std::move(replay), std::move(*feed)).Run();
    }

    SimulatorSetup setup;
    setup.lineFd = line->fd();
    setup.lineIsPty = line->isPty();
    setup.inputFd = STDIN_FILENO;
    setup.outFd = STDOUT_FILENO;
    setup.errFd = STDERR_FILENO;
    setup.stopFd = stopFd;
    setup.exitOnEof = options.exitOnEof;
    setup.exitAfterScript = options.exitAfterScript;
    setup.script = std::move(script);
    setup.soakRate = options.soakRate;
    setup.seed = options.seed ? *options.seed : std::random_device{}();
    if (options.escrowTimeoutSeconds) {
        setup.escrowTimeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(*options.escrowTimeoutSeconds));
    }
    setup.taps = taps.get();

    Simulator simulator(std::move(setup));
    simulator.PrintLine(first);
    if (taps) simulator.Tell(taps->Describe());
    simulator.Start();
    return simulator.Run();
}
