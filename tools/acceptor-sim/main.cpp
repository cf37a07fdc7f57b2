#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "norva_version.h"
#include "tools/acceptor-sim/commands.h"
#include "tools/acceptor-sim/options.h"
#include "tools/acceptor-sim/replay.h"
#include "tools/acceptor-sim/serial_line.h"
#include "tools/acceptor-sim/simulator.h"
#include "tools/common/stop_signals.h"

using namespace norva::sim;

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
    const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) return Fail(kExitUsage, parsed.error);
    const Options& options = parsed.options;
    if (options.help || options.version) {
        std::fputs((options.help ? UsageText() : norva::VersionText("norva-acceptor-sim")).c_str(),
                   stdout);
        return kExitOk;
    }

    std::string error;
    std::optional<Script> script;
    if (!options.script.empty()) {
        script = LoadScript(options.script, error);
        if (!script) return Fail(kExitScript, error);
    }
    std::optional<ReplayPlan> plan;
    if (!options.replay.empty()) {
        const norva::CaptureParse capture = norva::ReadCaptureFile(options.replay);
        if (!capture.ok()) return Fail(kExitScript, capture.error);
        plan = PlanReplay(capture.events);
        if (plan->blocks.empty()) return Fail(kExitScript, options.replay + ": no RX line to play");
    }

    const int stopFd = norva::tools::StopSignalDescriptor({SIGINT, SIGTERM, SIGHUP});
    if (stopFd < 0) return Fail(kExitDevice, "cannot make the stop pipe");

    auto made =
        options.device.empty() ? SerialLine::CreatePty() : SerialLine::OpenDevice(options.device);
    if (!made.value) return Fail(kExitDevice, made.outcome.text());
    const std::unique_ptr<SerialLine> line = std::move(made.value);
    std::unique_ptr<SymbolicLink> link;
    if (!options.link.empty()) {
        auto linked = SymbolicLink::Create(options.link, line->path());
        if (!linked.value) return Fail(kExitDevice, linked.outcome.text());
        link = std::move(linked.value);
    }

    if (plan) {
        std::size_t answers = 0;
        for (const auto& group : plan->expected)
            answers += group.size();
        const std::string first = (line->isPty() ? "pty " : "device ") + line->path() + "\n";
        (void)!::write(STDOUT_FILENO, first.data(), first.size());
        std::fprintf(stderr, "    0.000 -- replay %s: %zu blocks, %zu answers expected, speed %g\n",
                     options.replay.c_str(), plan->blocks.size(), answers,
                     options.replaySpeed.value_or(1.0));
        ReplaySetup replay;
        replay.lineFd = line->fd();
        replay.lineIsPty = line->isPty();
        replay.outFd = STDOUT_FILENO;
        replay.errFd = STDERR_FILENO;
        replay.stopFd = stopFd;
        replay.speed = options.replaySpeed.value_or(1.0);
        replay.plan = std::move(*plan);
        return Replayer(std::move(replay)).Run();
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

    Simulator simulator(std::move(setup));
    simulator.PrintLine((line->isPty() ? "pty " : "device ") + line->path());
    simulator.Start();
    return simulator.Run();
}
