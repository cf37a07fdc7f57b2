#include "program_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "clock.h"
#include "control_channel.h"
#include "measured_program.h"
#include "pty_pair.h"

extern char** environ;

namespace norva::bench {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const double kNaN = std::nan("");

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A descriptor at 10 or above, so that none of them is a standard one in the child, even where
// the driver itself was started without standard input.
int HighDescriptor(int fd) {
    if (fd < 0) return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

// The measured program's working directory, with the bill value file it reads at start-up.
class ScratchDirectory {
public:
    ScratchDirectory() {
        char pattern[] = "/tmp/norva-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no scratch directory");
        path_ = pattern;
        std::ofstream values(path_ + "/BILLVALUE.TXT", std::ios::binary);
        for (int n = 1; n <= 16; ++n)
            values << n << "\r\n";
    }
    ~ScratchDirectory() {
        for (const char* name : {"/BILLVALUE.TXT", "/comm.ini"})
            ::unlink((path_ + name).c_str());
        ::rmdir(path_.c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The real program in a process of its own, so that its processor time and memory are its own.
class MeasuredProcess {
public:
    MeasuredProcess(const DriverOptions& options, const std::string& comPath,
                    const std::vector<std::string>& extraEnvironment = {}) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::runtime_error("no control socket");
        const int ours = ends[0];
        const int theirs = HighDescriptor(ends[1]);
        const int log =
            HighDescriptor(::open(options.childLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
        const int devNull = HighDescriptor(::open("/dev/null", O_RDONLY));

        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string_view entry(*e);
            if (entry.starts_with("QT_QPA_PLATFORM=") || entry.starts_with("DISPLAY=") ||
                entry.starts_with("NORVA_COM") || entry.starts_with("NORVA_BENCH_") ||
                entry.starts_with("NORVA_LOG_BUDGET_MB="))
                continue;
            environment.emplace_back(entry);
        }
        environment.push_back("QT_QPA_PLATFORM=" + options.platform);
        if (!options.display.empty()) environment.push_back("DISPLAY=" + options.display);
        if (!comPath.empty()) environment.push_back("NORVA_COM1=" + comPath);
        environment.push_back(std::string(kControlFdVariable) + "=3");
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, devNull, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, log >= 0 ? log : devNull, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, log >= 0 ? log : devNull, STDERR_FILENO);
        posix_spawn_file_actions_adddup2(&actions, theirs, 3);
        posix_spawn_file_actions_addchdir_np(&actions, directory_.path().c_str());
        std::string name = "norva-protocol";
        std::string argument = kMeasuredProgramArgument;
        char* argv[] = {name.data(), argument.data(), nullptr};

        // The clock starts as a launcher would start the program; spawning shares the driver's
        // memory instead of copying its page tables, so the driver's own size does not count.
        const std::int64_t startNs = MonotonicNs();
        environment.push_back(std::string(kStartNsVariable) + "=" + std::to_string(startNs));
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const int failed =
            ::posix_spawn(&pid_, options.executable.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(theirs);
        if (log >= 0) ::close(log);
        ::close(devNull);
        if (failed != 0) {
            pid_ = -1;
            ::close(ours);
            throw std::runtime_error("the program could not be started");
        }
        channel_ = LineChannel(ours);
    }

    ~MeasuredProcess() {
        if (pid_ > 0 && !Quit()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (channel_.fd() >= 0) ::close(channel_.fd());
    }
    MeasuredProcess(const MeasuredProcess&) = delete;
    MeasuredProcess& operator=(const MeasuredProcess&) = delete;

    // Skips anything else the program says until the word comes.
    Reply Await(const std::string& word, int timeoutMs) {
        const auto deadline = Clock::now() + milliseconds(timeoutMs);
        for (;;) {
            const int left = static_cast<int>(MsBetween(Clock::now(), deadline));
            const auto line = left > 0 ? channel_.ReadLine(left) : std::nullopt;
            if (!line) throw std::runtime_error("no '" + word + "' from the program");
            Reply reply = ParseReply(*line);
            if (reply.word == word) return reply;
        }
    }

    Reply Ask(const std::string& command, const std::string& word, int timeoutMs = 20000) {
        if (!channel_.Send(command)) throw std::runtime_error("program gone before " + command);
        return Await(word, timeoutMs);
    }

    // The start-up, from the spawn to the first painted main window.
    void AwaitPainted(ProgramFigures& figures) {
        const Reply painted = Await("painted", 30000);
        figures.startupMs.push_back(painted.Get("painted_ms"));
        figures.mainMs.push_back(painted.Get("main_ms"));
        figures.appMs.push_back(painted.Get("app_ms"));
    }

    // Closes the main window the operator's way and waits for the process to end by itself.
    bool Quit() {
        if (pid_ <= 0) return true;
        channel_.Send("quit");
        const auto deadline = Clock::now() + milliseconds(10000);
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        return false;
    }

private:
    ScratchDirectory directory_;
    pid_t pid_ = -1;
    LineChannel channel_;
};

void MakeNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Plays a silent device: whatever the program sends (its polls) is read and dropped.
void ListenFor(int master, Clock::duration duration) {
    const auto end = Clock::now() + duration;
    for (;;) {
        const int left = static_cast<int>(MsBetween(Clock::now(), end));
        if (left <= 0) return;
        if (master < 0) {
            std::this_thread::sleep_for(milliseconds(left));
            return;
        }
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, left) == 1) {
            std::uint8_t buffer[256];
            if (::read(master, buffer, sizeof buffer) <= 0) {
                // Nothing to read while POLLHUP stays up: just wait out the time.
                std::this_thread::sleep_for(milliseconds(std::min(left, 10)));
            }
        }
    }
}

// Plays a device that answers every poll (0x0C) with a status code, as an acceptor that is
// disabled does; returns the polls it answered.
int AnswerPolls(int master, Clock::duration duration) {
    int polls = 0;
    const auto end = Clock::now() + duration;
    for (;;) {
        const int left = static_cast<int>(MsBetween(Clock::now(), end));
        if (left <= 0) return polls;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, left) != 1) continue;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            std::this_thread::sleep_for(milliseconds(std::min(left, 10)));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != 0x0C) continue;
            ++polls;
            const std::uint8_t status = 0x3E;
            (void)!::write(master, &status, 1);
        }
    }
}

double CpuPercent(const Reply& before, const Reply& after, double wallMs) {
    return (after.Get("cpu_us") - before.Get("cpu_us")) / 1000.0 / wallMs * 100.0;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return kNaN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

PtyPair& Device(PtyPair& pty) {
    if (!pty.ok()) throw std::runtime_error("no pseudo-terminal");
    MakeNonBlocking(pty.master());
    return pty;
}

void OpenPort(MeasuredProcess& program) {
    if (program.Ask("open", "opened").Get("ok") != 1)
        throw std::runtime_error("the program could not open the port");
}

// Port open with an hour's log, polling on: the device silent, then answering every poll, then
// unplugged.
// One step of a flood of status codes 0x20..0x29: the program's polls are read and dropped, and
// as much as the line takes is written. sent counts the bytes so far.
void FloodStep(int master, long long& sent) {
    pollfd p{master, POLLIN | POLLOUT, 0};
    if (::poll(&p, 1, 10) != 1) return;
    if (p.revents & POLLIN) {
        std::uint8_t polls[256];
        (void)!::read(master, polls, sizeof polls);
    }
    if (!(p.revents & POLLOUT)) return;
    std::uint8_t chunk[4096];
    for (std::size_t i = 0; i < sizeof chunk; ++i)
        chunk[i] = static_cast<std::uint8_t>(0x20 + (sent + static_cast<long long>(i)) % 10);
    const ssize_t n = ::write(master, chunk, sizeof chunk);
    if (n > 0) sent += n;
}

// Every byte sent has been handled when the engine has counted as many; gives up after 2 minutes.
double AwaitHandled(MeasuredProcess& program, int master, long long sent) {
    double handled = 0;
    const auto giveUp = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < giveUp) {
        handled = program.Ask("engine", "engine", 60000).Get("bytes");
        if (handled >= double(sent)) break;
        ListenFor(master, milliseconds(20));
    }
    return handled;
}

void MeasureIdle(const DriverOptions& options, ProgramFigures& figures) {
    PtyPair pty;
    Device(pty);
    MeasuredProcess program(options, pty.slavePath());
    program.AwaitPainted(figures);
    OpenPort(program);
    // Right after the port is picked the log is short and its scroll bar moves with every line.
    ListenFor(pty.master(), milliseconds(2000));
    const Reply freshFrom = program.Ask("usage", "usage");
    const auto freshStart = Clock::now();
    AnswerPolls(pty.master(), std::chrono::seconds(options.idleSeconds));
    figures.freshAnsweringCpuPercent =
        CpuPercent(freshFrom, program.Ask("usage", "usage"), MsBetween(freshStart, Clock::now()));

    program.Ask("fill " + std::to_string(options.idleHistoryLines), "filled", 600000);
    ListenFor(pty.master(), milliseconds(2000));  // start-up work still settling

    program.Ask("timer-reset", "timer-reset");
    const Reply before = program.Ask("usage", "usage");
    const auto from = Clock::now();
    ListenFor(pty.master(), std::chrono::seconds(options.idleSeconds));
    const Reply after = program.Ask("usage", "usage");
    figures.silentCpuPercent = CpuPercent(before, after, MsBetween(from, Clock::now()));
    figures.idleResidentMb = after.Get("rss_kb") / 1024.0;

    const Reply answeringFrom = program.Ask("usage", "usage");
    const auto answeringStart = Clock::now();
    const int polls = AnswerPolls(pty.master(), std::chrono::seconds(options.idleSeconds));
    const Reply answeringTo = program.Ask("usage", "usage");
    figures.answeringCpuPercent =
        CpuPercent(answeringFrom, answeringTo, MsBetween(answeringStart, Clock::now()));
    if (polls > 0)
        figures.cpuMsPerPollCycle =
            (answeringTo.Get("cpu_us") - answeringFrom.Get("cpu_us")) / 1000.0 / polls;
    figures.idleTimerLateMs = program.Ask("timer", "timer").Get("max_late_ms");

    pty.CloseMaster();
    ListenFor(-1, milliseconds(1000));
    const Reply gone = program.Ask("usage", "usage");
    const auto goneFrom = Clock::now();
    ListenFor(-1, std::chrono::seconds(options.seconds));
    const Reply later = program.Ask("usage", "usage");
    figures.vanishedCpuPercent = CpuPercent(gone, later, MsBetween(goneFrom, Clock::now()));
    if (!program.Quit()) figures.problems.push_back("idle: the program did not close cleanly");
}

// Power-up written, answer read back, both at the device's end of the line.
void MeasureLatency(const DriverOptions& options, ProgramFigures& figures) {
    PtyPair pty;
    Device(pty);
    MeasuredProcess program(options, pty.slavePath());
    program.AwaitPainted(figures);
    OpenPort(program);
    ListenFor(pty.master(), milliseconds(500));

    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> pause(5, 25);
    std::vector<double> latencies;
    for (int trial = 0; trial < options.trials; ++trial) {
        ListenFor(pty.master(), milliseconds(pause(random)));
        const auto sent = Clock::now();
        pty.Write({0x80, 0x8F});
        bool answered = false;
        while (!answered) {
            const int left = 2000 - static_cast<int>(MsBetween(sent, Clock::now()));
            if (left <= 0) break;
            pollfd p{pty.master(), POLLIN, 0};
            if (::poll(&p, 1, left) != 1) continue;
            std::uint8_t buffer[64];
            const ssize_t n = ::read(pty.master(), buffer, sizeof buffer);
            for (ssize_t i = 0; i < n && !answered; ++i) {
                if (buffer[i] == 0x02) {
                    latencies.push_back(MsBetween(sent, Clock::now()));
                    answered = true;
                }
            }
        }
        if (!answered) ++figures.latencyMissing;
    }
    figures.latencyP50Ms = Percentile(latencies, 0.50);
    figures.latencyP99Ms = Percentile(latencies, 0.99);
    figures.latencyMaxMs = Percentile(latencies, 1.0);
    if (!program.Quit()) figures.problems.push_back("latency: the program did not close cleanly");
}

// Status codes as fast as the line takes them; then every byte must be in the log.
void MeasureFlood(const DriverOptions& options, ProgramFigures& figures) {
    PtyPair pty;
    Device(pty);
    const int master = pty.master();
    MeasuredProcess program(options, pty.slavePath());
    program.AwaitPainted(figures);
    OpenPort(program);
    ListenFor(master, milliseconds(1000));
    program.Ask("timer-reset", "timer-reset");

    long long sent = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options.seconds);
    while (Clock::now() < end) {
        FloodStep(master, sent);
    }

    const double handled = AwaitHandled(program, master, sent);
    const auto done = Clock::now();
    // The timer first: counting the log's lines keeps the window's thread busy for a while.
    const Reply timer = program.Ask("timer", "timer");
    const Reply log = program.Ask("log", "log", 60000);
    const Reply usage = program.Ask("usage", "usage");

    figures.floodBytesSent = double(sent);
    figures.floodBytesPerSecond = handled / (MsBetween(start, done) / 1000.0);
    figures.floodBytesLost = double(sent) - log.Get("status");
    figures.floodTimerLateMs = timer.Get("max_late_ms");
    figures.floodResidentMb = usage.Get("rss_kb") / 1024.0;
    if (!program.Quit()) figures.problems.push_back("flood: the program did not close cleanly");
}

// Reads what the program sends on a thread of its own and keeps when each poll arrived, so the
// gaps are the device's view whatever the driver's own thread is waiting for.
class PollWatch {
public:
    explicit PollWatch(int master) : master_(master), thread_([this] { Run(); }) {}
    ~PollWatch() {
        stop_ = true;
        thread_.join();
    }
    PollWatch(const PollWatch&) = delete;
    PollWatch& operator=(const PollWatch&) = delete;

    // The longest time between two polls, or from the last one to now, since from.
    double LongestGapMs(Clock::time_point from) {
        std::lock_guard lock(mutex_);
        Clock::time_point previous = from;
        double longest = 0;
        for (const Clock::time_point at : polls_) {
            if (at < from) continue;
            longest = std::max(longest, MsBetween(previous, at));
            previous = at;
        }
        return std::max(longest, MsBetween(previous, Clock::now()));
    }

private:
    void Run() {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) continue;
            std::uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                std::this_thread::sleep_for(milliseconds(10));
                continue;
            }
            const auto now = Clock::now();
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == 0x0C) polls_.push_back(now);
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Clock::time_point> polls_;
    std::thread thread_;
};

// Status codes as fast as the line takes them, written only: the polls are PollWatch's.
void FloodWrite(int master, long long& sent) {
    pollfd p{master, POLLOUT, 0};
    if (::poll(&p, 1, 10) != 1) return;
    std::uint8_t chunk[4096];
    for (std::size_t i = 0; i < sizeof chunk; ++i)
        chunk[i] = static_cast<std::uint8_t>(0x20 + (sent + static_cast<long long>(i)) % 10);
    const ssize_t n = ::write(master, chunk, sizeof chunk);
    if (n > 0) sent += n;
}

// The flood for a long while under a log budget: the resident size must level off near the
// budget, and trimming must neither hold the window's thread nor delay a poll.
BudgetFigures MeasureBudgetFlood(const DriverOptions& options, int megabytes,
                                 ProgramFigures& figures) {
    BudgetFigures budget{megabytes, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    PtyPair pty;
    Device(pty);
    const int master = pty.master();
    MeasuredProcess program(options, pty.slavePath(),
                            {"NORVA_LOG_BUDGET_MB=" + std::to_string(megabytes)});
    program.AwaitPainted(figures);
    OpenPort(program);
    ListenFor(master, milliseconds(1000));
    budget.residentIdleMb = program.Ask("usage", "usage").Get("rss_kb") / 1024.0;

    PollWatch polls(master);
    program.Ask("hold-reset", "hold-reset");
    long long sent = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options.budgetSeconds);
    // A line every few seconds on the driver's standard error: where the memory is going.
    auto nextSample = start + std::chrono::seconds(5);
    while (Clock::now() < end) {
        if (Clock::now() >= nextSample) {
            nextSample += std::chrono::seconds(5);
            const Reply sample = program.Ask("usage", "usage", 60000);
            std::fprintf(stderr,
                         "budget %d MB, %3.0f s: resident %.1f MB (peak %.1f MB), counted %.1f MB, "
                         "heap in use %.1f MB, heap free %.1f MB, mapped %.1f MB\n",
                         megabytes, MsBetween(start, Clock::now()) / 1000,
                         sample.Get("rss_kb") / 1024, sample.Get("peak_kb") / 1024,
                         sample.Get("budget_bytes") / 1048576,
                         (sample.Get("heap_bytes") - sample.Get("mapped_bytes")) / 1048576,
                         sample.Get("heap_free") / 1048576, sample.Get("mapped_bytes") / 1048576);
        }
        FloodWrite(master, sent);
    }
    double handled = 0;
    const auto giveUp = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < giveUp) {
        handled = program.Ask("engine", "engine", 60000).Get("bytes");
        if (handled >= double(sent)) break;
        std::this_thread::sleep_for(milliseconds(20));
    }
    budget.linesPerSecond = handled / (MsBetween(start, Clock::now()) / 1000.0);
    budget.longestPollGapMs = polls.LongestGapMs(start);
    budget.longestHoldMs = program.Ask("hold", "hold").Get("max_ms");
    const Reply usage = program.Ask("usage", "usage");
    budget.residentEndMb = usage.Get("rss_kb") / 1024.0;
    budget.residentPeakMb = usage.Get("peak_kb") / 1024.0;
    if (!program.Quit()) figures.problems.push_back("budget: the program did not close cleanly");
    return budget;
}

void MeasureBudgetFloods(const DriverOptions& options, ProgramFigures& figures) {
    for (const int megabytes : options.budgetMegabytes) {
        try {
            figures.budgets.push_back(MeasureBudgetFlood(options, megabytes, figures));
        } catch (const std::exception& error) {
            figures.budgets.push_back({megabytes, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN});
            figures.problems.push_back("budget " + std::to_string(megabytes) +
                                       " MB: " + error.what());
        }
    }
}

// The log pane's memory for each line, with the lines added as the engine adds them.
void MeasureLogMemory(const DriverOptions& options, ProgramFigures& figures) {
    MeasuredProcess program(options, "");
    program.AwaitPainted(figures);
    ListenFor(-1, milliseconds(1000));
    const Reply before = program.Ask("usage", "usage");
    program.Ask("fill " + std::to_string(options.lines), "filled", 600000);
    ListenFor(-1, milliseconds(500));
    const Reply after = program.Ask("usage", "usage");
    const double lines = double(options.lines);
    figures.bytesPerLogLine = (after.Get("rss_kb") - before.Get("rss_kb")) * 1024.0 / lines;
    figures.heapBytesPerLogLine = (after.Get("heap_bytes") - before.Get("heap_bytes")) / lines;
    if (!program.Quit()) figures.problems.push_back("memory: the program did not close cleanly");
}

void MeasureStartups(const DriverOptions& options, ProgramFigures& figures) {
    for (int i = 0; i < options.startups; ++i) {
        MeasuredProcess program(options, "");
        program.AwaitPainted(figures);
        if (!program.Quit()) figures.problems.push_back("start-up: the program did not close");
    }
}

}  // namespace

ProgramFigures MeasureProgram(const DriverOptions& options) {
    ProgramFigures figures{};
    for (double* value :
         {&figures.silentCpuPercent, &figures.freshAnsweringCpuPercent,
          &figures.answeringCpuPercent, &figures.cpuMsPerPollCycle, &figures.vanishedCpuPercent,
          &figures.idleResidentMb, &figures.latencyP50Ms, &figures.latencyP99Ms,
          &figures.latencyMaxMs, &figures.floodBytesPerSecond, &figures.floodBytesSent,
          &figures.floodBytesLost, &figures.floodTimerLateMs, &figures.idleTimerLateMs,
          &figures.floodResidentMb, &figures.bytesPerLogLine, &figures.heapBytesPerLogLine})
        *value = kNaN;

    using Measurement = void (*)(const DriverOptions&, ProgramFigures&);
    const std::pair<const char*, Measurement> measurements[] = {
        {"start-up", MeasureStartups}, {"idle", MeasureIdle},
        {"latency", MeasureLatency},   {"flood", MeasureFlood},
        {"memory", MeasureLogMemory},  {"budget", MeasureBudgetFloods},
    };
    // One at a time: each has the machine to itself, as far as this driver is concerned.
    for (const auto& [name, measure] : measurements) {
        if (!options.only.empty() &&
            std::find(options.only.begin(), options.only.end(), name) == options.only.end())
            continue;
        try {
            measure(options, figures);
        } catch (const std::exception& error) {
            figures.problems.push_back(std::string(name) + ": " + error.what());
        }
    }
    return figures;
}

}  // namespace norva::bench
