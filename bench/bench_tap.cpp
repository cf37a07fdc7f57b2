#include "bench_tap.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "link/tap_inputs.h"
#include "pty_pair.h"

namespace norva::bench {

namespace {

double Ms(std::int64_t micros) {
    return static_cast<double>(micros) / 1000.0;
}

// A program of its own with standard output to a file (or nothing) and the rest to /dev/null.
pid_t Start(std::vector<std::string> args, const std::string& output = "/dev/null") {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int null = ::open("/dev/null", O_RDWR);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(null, 0);
    ::dup2(out, 1);
    ::dup2(null, 2);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Time the process's threads have run, in milliseconds, from the scheduler's own account:
// exact to the nanosecond, where the user and system times are sampled a tick at a time, too
// coarse for a program that runs a millisecond a second.
double CpuMs(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double ns = 0;
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (const dirent* task = ::readdir(dir)) {
            if (task->d_name[0] == '.') continue;
            std::ifstream schedstat(tasks + "/" + task->d_name + "/schedstat");
            double onCpu = 0;
            if (schedstat >> onCpu) ns += onCpu;
        }
        ::closedir(dir);
    }
    return ns / 1e6;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGINT);
    for (int i = 0; i < 500 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace

TapOrderFigures MeasureTapOrder(int rounds) {
    TapOrderFigures figures;
    PtyPair host, device;
    Result<std::unique_ptr<TapInputs>> opened = TapInputs::Open(
        {{"", host.slavePath(), "9600,E,8,1"}, {"", device.slavePath(), "9600,E,8,1"}});
    if (!opened.ok()) return figures;
    TapInputs& tap = *opened.value();
    // Negative: the host's byte first.
    std::vector<int> gaps = {-10000, -5000, -2000, -1000, -500, -300, -200, -100, -50,  0,
                             50,     100,   200,   300,   500,  1000, 2000, 5000, 10000};
    std::vector<std::int64_t> late;
    std::mt19937 random(7);
    for (int round = 0; round < rounds; ++round) {
        std::shuffle(gaps.begin(), gaps.end(), random);
        for (const int gap : gaps) {
            PtyPair& first = gap >= 0 ? device : host;
            PtyPair& second = gap >= 0 ? host : device;
            const std::int64_t written = tap.Now();
            first.Write({0x21});
            // Sleep for the most of a long gap, spin for the rest: the gap is what the clock says.
            if (std::abs(gap) >= 300)
                std::this_thread::sleep_for(std::chrono::microseconds(std::abs(gap) - 100));
            std::int64_t writtenSecond;
            while ((writtenSecond = tap.Now()) < written + std::abs(gap)) {
            }
            second.Write({0x21});
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            std::int64_t read[2] = {-1, -1};  // host, device
            tap.Take([&](TapSide side, const Block& block) {
                std::int64_t& slot = read[side == TapSide::Host ? 0 : 1];
                if (!block.bytes.empty() && slot < 0) slot = block.firstByteUnixMicros;
            });
            if (read[0] < 0 || read[1] < 0) continue;  // later than 25 ms: counted with the next
            const std::int64_t hostWritten = gap >= 0 ? writtenSecond : written;
            const std::int64_t deviceWritten = gap >= 0 ? written : writtenSecond;
            late.push_back(read[0] - hostWritten);
            late.push_back(read[1] - deviceWritten);
            ++figures.pairs;
            const std::int64_t measured = read[0] - read[1];  // the host's after the device's
            const std::int64_t actual = hostWritten - deviceWritten;
            if (measured == 0) {
                ++figures.tied;
                figures.widestTiedGapMicros =
                    std::max(figures.widestTiedGapMicros, std::abs(actual));
            } else if (actual != 0 && (measured > 0) != (actual > 0)) {
                ++figures.inverted;
            }
        }
    }
    std::sort(late.begin(), late.end());
    if (!late.empty()) {
        const auto at = [&](double q) {
            return Ms(late[std::size_t(q * double(late.size() - 1))]);
        };
        figures.lateP50Ms = at(0.5);
        figures.lateP99Ms = at(0.99);
        figures.lateP999Ms = at(0.999);
        figures.lateMaxMs = Ms(late.back());
    }
    return figures;
}

TapSoakFigures MeasureTapSoak(int seconds) {
    TapSoakFigures figures{double(seconds), std::nan(""), std::nan(""), 0};
    const std::string base = "/tmp/norva-bench-tap-" + std::to_string(::getpid());
    const std::string acceptor = base + "-acceptor", tapHost = base + "-host",
                      tapDevice = base + "-device", summary = base + "-summary.json";
    const pid_t sim = Start({NORVA_ACCEPTOR_SIM, "--soak", "2", "--seed", "3", "--link", acceptor,
                             "--tap-links", tapHost, tapDevice});
    for (int i = 0; i < 500 && !(Exists(acceptor) && Exists(tapDevice)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const pid_t tap =
        Start({NORVA_CLI, "--tap-host", tapHost, "--tap-device", tapDevice, "--json"}, summary);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const pid_t host =
        Start({NORVA_CLI, "--device", acceptor, "--accept", "1-16", "--escrow", "no-escrow"});
    // From when both are under way: the same traffic, neither program's start-up.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double tapBefore = CpuMs(tap), hostBefore = CpuMs(host);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    figures.tapCpuMs = CpuMs(tap) - tapBefore;
    figures.hostCpuMs = CpuMs(host) - hostBefore;
    Stop(host);
    Stop(tap);
    Stop(sim);
    std::ifstream json(summary);
    const std::string text((std::istreambuf_iterator<char>(json)),
                           std::istreambuf_iterator<char>());
    std::smatch total;
    if (std::regex_search(text, total, std::regex("\"total\":(\\d+),\"unannounced\"")))
        figures.notesSeenByTap = std::stol(total[1]);
    ::unlink(summary.c_str());
    return figures;
}

}  // namespace norva::bench
