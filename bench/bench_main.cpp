// One table of speed and memory figures: the pieces in-process with Google Benchmark, and the
// whole program in processes of its own, each started as the binary starts, with the device
// played over a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_link.h"
#include "bench_picture.h"
#include "bench_replay.h"
#include "bench_tap.h"
#include "measured_program.h"
#include "program_driver.h"
#include "results_table.h"
#include "virtual_display.h"

namespace {

using norva::bench::Fixed;

struct Options {
    int runs = 2;
    std::string output = "bench-results.md";
    std::string platform;  // empty: xcb on a private X server when there is one
    bool core = true;
    bool program = true;
    norva::bench::DriverOptions driver;
    std::string replaySimulator = NORVA_ACCEPTOR_SIM;  // another build's, to compare
    int tapSeconds = 600;                              // the tap's soak
    long replayLines = 5'000'000;
    std::vector<char*> benchmarkArguments;
};

void Usage(const char* name) {
    std::fprintf(stderr,
                 "usage: %s [--runs N] [--output FILE] [--platform xcb|offscreen]\n"
                 "          [--seconds S] [--idle-seconds S] [--budget-seconds S] [--trials N] "
                 "[--lines N] [--startups N]\n"
                 "          [--core-only | --program-only] [--replay-sim PATH] [--replay-lines N]\n"
                 "          [--only start-up,idle,latency,flood,memory,budget,replay,picture,"
                 "tap-order,tap-soak]\n          [--tap-seconds S]\n"
                 "          [--benchmark_...]\n",
                 name);
}

bool Parse(int argc, char** argv, Options& options) {
    options.benchmarkArguments.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument.rfind("--benchmark_", 0) == 0) {
            options.benchmarkArguments.push_back(argv[i]);
        } else if (argument == "--core-only") {
            options.program = false;
        } else if (argument == "--program-only") {
            options.core = false;
        } else if (hasValue && argument == "--runs") {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (hasValue && argument == "--output") {
            options.output = argv[++i];
        } else if (hasValue && argument == "--platform") {
            options.platform = argv[++i];
        } else if (hasValue && argument == "--seconds") {
            options.driver.seconds = std::max(1, std::atoi(argv[++i]));
        } else if (hasValue && argument == "--idle-seconds") {
            options.driver.idleSeconds = std::max(1, std::atoi(argv[++i]));
        } else if (hasValue && argument == "--budget-seconds") {
            options.driver.budgetSeconds = std::max(1, std::atoi(argv[++i]));
        } else if (hasValue && argument == "--budget-mb") {
            options.driver.budgetMegabytes.clear();
            std::string sizes = argv[++i];
            for (std::size_t start = 0; start < sizes.size();) {
                std::size_t end = sizes.find(',', start);
                if (end == std::string::npos) end = sizes.size();
                const int megabytes = std::atoi(sizes.substr(start, end - start).c_str());
                if (megabytes <= 0) return false;
                options.driver.budgetMegabytes.push_back(megabytes);
                start = end + 1;
            }
        } else if (hasValue && argument == "--trials") {
            options.driver.trials = std::max(1, std::atoi(argv[++i]));
        } else if (hasValue && argument == "--lines") {
            options.driver.lines = std::max(1L, std::atol(argv[++i]));
        } else if (hasValue && argument == "--only") {
            std::string names = argv[++i];
            for (std::size_t start = 0; start <= names.size();) {
                std::size_t end = names.find(',', start);
                if (end == std::string::npos) end = names.size();
                options.driver.only.push_back(names.substr(start, end - start));
                start = end + 1;
            }
        } else if (hasValue && argument == "--tap-seconds") {
            options.tapSeconds = std::max(1, std::atoi(argv[++i]));
        } else if (hasValue && argument == "--replay-sim") {
            options.replaySimulator = argv[++i];
        } else if (hasValue && argument == "--replay-lines") {
            options.replayLines = std::max(2L, std::atol(argv[++i]));
        } else if (hasValue && argument == "--startups") {
            options.driver.startups = std::max(0, std::atoi(argv[++i]));
        } else {
            return false;
        }
    }
    return true;
}

// Keeps each benchmark's figure per run, quietly: the table is the only report.
class CollectingReporter : public benchmark::BenchmarkReporter {
public:
    struct Figure {
        double value;
        std::string unit;
    };

    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            if (run.error_occurred) {
                figures[run.benchmark_name()] = {std::nan(""), ""};
                continue;
            }
            if (!order_contains(run.benchmark_name())) order.push_back(run.benchmark_name());
            if (const auto memory = run.counters.find("memory_bytes");
                memory != run.counters.end()) {
                const std::string name = run.benchmark_name() + ": memory kept";
                if (!order_contains(name)) order.push_back(name);
                figures[name] = {memory->second.value, "B"};
            }
            if (const auto events = run.counters.find("events_per_second");
                events != run.counters.end()) {
                figures[run.benchmark_name()] = {events->second.value, "events/s"};
            } else if (const auto perEvent = run.counters.find("bytes_per_event");
                       perEvent != run.counters.end()) {
                figures[run.benchmark_name()] = {perEvent->second.value, "B/event"};
            } else if (const auto bytes = run.counters.find("bytes_per_second");
                       bytes != run.counters.end()) {
                figures[run.benchmark_name()] = {bytes->second.value / 1e6, "MB/s"};
            } else if (const auto items = run.counters.find("items_per_second");
                       items != run.counters.end()) {
                figures[run.benchmark_name()] = {items->second.value, "lines/s"};
            } else {
                const double ns = run.GetAdjustedRealTime() /
                                  benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
                figures[run.benchmark_name()] = {ns, "ns"};
            }
        }
    }

    std::vector<std::string> order;
    std::map<std::string, Figure> figures;

private:
    bool order_contains(const std::string& name) const {
        return std::find(order.begin(), order.end(), name) != order.end();
    }
};

std::string ExecutablePath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

double Median(std::vector<double> values) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Largest(const std::vector<double>& values) {
    return values.empty() ? std::nan("") : *std::max_element(values.begin(), values.end());
}

template <typename Run, typename Field>
std::vector<double> PerRun(const std::vector<Run>& runs, Field field) {
    std::vector<double> values;
    for (const auto& run : runs)
        values.push_back(field(run));
    return values;
}

void AddProgramRows(norva::bench::ResultsTable& table, const Options& options,
                    const std::vector<norva::bench::ProgramFigures>& runs) {
    using Figures = norva::bench::ProgramFigures;
    const auto& d = options.driver;
    const auto taken = [&d](const char* measurement) {
        return d.only.empty() ||
               std::find(d.only.begin(), d.only.end(), measurement) != d.only.end();
    };
    const auto ms = [](double v) { return Fixed(v, 1) + " ms"; };
    const auto mb = [](double v) { return Fixed(v, 1) + " MB"; };
    const auto percent = [](double v) { return Fixed(v, 3) + " %"; };
    const auto count = [](double v) { return Fixed(v, 0); };
    const auto below = [](double limit) { return [limit](double v) { return v < limit; }; };
    const auto atMost = [](double limit) { return [limit](double v) { return v <= limit; }; };
    const std::string seconds = std::to_string(d.seconds) + " s";

    const std::string starts = std::to_string(runs.empty() ? 0 : runs.front().startupMs.size());
    table.Add("Start-up to first painted window, median of " + starts + " starts", "< 300 ms",
              PerRun(runs, [](const Figures& f) { return Median(f.startupMs); }), ms, below(300));
    table.Add("Start-up to first painted window, slowest of " + starts, "< 300 ms",
              PerRun(runs, [](const Figures& f) { return Largest(f.startupMs); }), ms, below(300));
    table.Add("Start-up, of which until main() (libraries loaded), median", "—",
              PerRun(runs, [](const Figures& f) { return Median(f.mainMs); }), ms);
    table.Add("Start-up, of which until QApplication is up, median", "—",
              PerRun(runs, [](const Figures& f) { return Median(f.appMs); }), ms);
    if (taken("idle")) {
        const std::string idle = std::to_string(d.idleSeconds) + " s";
        const std::string history = Fixed(double(d.idleHistoryLines), 0) + " lines in the log";
        table.Add("Idle, polling on, device silent, over " + idle + " (" + history + ")",
                  "< 0.5 % of one core",
                  PerRun(runs, [](const Figures& f) { return f.silentCpuPercent; }), percent,
                  below(0.5));
        table.Add("Idle, polling on, device answering every poll, the first " + idle +
                      " after the port is picked (log nearly empty)",
                  "≤ 0.05 % of one core",
                  PerRun(runs, [](const Figures& f) { return f.freshAnsweringCpuPercent; }),
                  percent, atMost(0.05));
        table.Add(
            "Idle, polling on, device answering every poll, over " + idle + " (" + history + ")",
            "≤ 0.05 % of one core",
            PerRun(runs, [](const Figures& f) { return f.answeringCpuPercent; }), percent,
            atMost(0.05));
        table.Add(
            "Processor time per poll cycle (poll, answer, both lines, repaint)", "≤ 0.5 ms",
            PerRun(runs, [](const Figures& f) { return f.cpuMsPerPollCycle; }),
            [](double v) { return Fixed(v, 3) + " ms"; }, atMost(0.5));
        table.Add("Idle CPU, device gone (pty master closed), over " + seconds,
                  "< 0.5 % of one core",
                  PerRun(runs, [](const Figures& f) { return f.vanishedCpuPercent; }), percent,
                  below(0.5));
        table.Add("Resident size at idle, port open", "< 60 MB",
                  PerRun(runs, [](const Figures& f) { return f.idleResidentMb; }), mb, below(60));
        table.Add("Timer1 most late vs its 1500 ms schedule, at idle", "— (reference)",
                  PerRun(runs, [](const Figures& f) { return f.idleTimerLateMs; }), ms);
    }
    if (taken("latency")) {
        const std::string trials = std::to_string(d.trials);
        table.Add("Answer latency 0x80 0x8F → 0x02, p50 of " + trials + " trials",
                  "floor: 50 ms quiet gap",
                  PerRun(runs, [](const Figures& f) { return f.latencyP50Ms; }), ms);
        table.Add("Answer latency, p99", "≤ 55 ms",
                  PerRun(runs, [](const Figures& f) { return f.latencyP99Ms; }), ms, atMost(55));
        table.Add("Answer latency, slowest", "—",
                  PerRun(runs, [](const Figures& f) { return f.latencyMaxMs; }), ms);
        table.Add("Answer latency, trials unanswered", "0",
                  PerRun(runs, [](const Figures& f) { return double(f.latencyMissing); }), count,
                  atMost(0));
    }
    if (taken("flood")) {
        table.Add(
            "Flood of 0x20..0x29 for " + seconds + ": bytes handled per second", "≥ 87,300 B/s",
            PerRun(runs, [](const Figures& f) { return f.floodBytesPerSecond; }),
            [](double v) { return Fixed(v, 0) + " B/s"; }, [](double v) { return v >= 87300; });
        table.Add(
            "Flood: log lines per second (one line a byte)", "≥ 300,000 lines/s (before)",
            PerRun(runs, [](const Figures& f) { return f.floodBytesPerSecond; }),
            [](double v) { return Fixed(v, 0) + " lines/s"; },
            [](double v) { return v >= 300000; });
        table.Add("Flood: bytes sent", "—",
                  PerRun(runs, [](const Figures& f) { return f.floodBytesSent; }), count);
        table.Add("Flood: bytes lost (sent − status lines in the log)", "0",
                  PerRun(runs, [](const Figures& f) { return f.floodBytesLost; }), count,
                  atMost(0));
        table.Add("Flood: Timer1 most late vs its 1500 ms schedule", "≤ 100 ms",
                  PerRun(runs, [](const Figures& f) { return f.floodTimerLateMs; }), ms,
                  atMost(100));
        table.Add("Flood: resident size afterwards", "—",
                  PerRun(runs, [](const Figures& f) { return f.floodResidentMb; }), mb);
    }
    if (taken("budget")) {
        for (std::size_t i = 0; i < d.budgetMegabytes.size(); ++i) {
            const auto figure = [i](double norva::bench::BudgetFigures::*field) {
                return [i, field](const Figures& f) {
                    return i < f.budgets.size() ? f.budgets[i].*field : std::nan("");
                };
            };
            using B = norva::bench::BudgetFigures;
            const double megabytes = d.budgetMegabytes[i];
            const std::string budget = "Flood for " + std::to_string(d.budgetSeconds) +
                                       " s under a " + Fixed(megabytes, 0) + " MB log budget";
            const std::vector<double> idle = PerRun(runs, figure(&B::residentIdleMb));
            // The ceiling is taken from each run's own idle size.
            const auto within = [&runs, i, megabytes](double B::*field) {
                std::vector<double> over;
                for (const Figures& f : runs) {
                    over.push_back(i < f.budgets.size()
                                       ? f.budgets[i].*field - f.budgets[i].residentIdleMb -
                                             megabytes * 1.1
                                       : std::nan(""));
                }
                return over;
            };
            const auto overCeiling = [](double v) {
                return (v > 0 ? "+" : "") + Fixed(v, 1) + " MB";
            };
            table.Add(budget + ": log lines per second", "as the flood above",
                      PerRun(runs, figure(&B::linesPerSecond)),
                      [](double v) { return Fixed(v, 0) + " lines/s"; });
            table.Add(budget + ": resident size before the flood (idle)", "—", idle, mb);
            table.Add(budget + ": peak resident size (VmHWM)", "—",
                      PerRun(runs, figure(&B::residentPeakMb)), mb);
            table.Add(budget + ": peak resident size against idle + 1.1 × budget", "≤ 0 MB",
                      within(&B::residentPeakMb), overCeiling, atMost(0));
            table.Add(budget + ": resident size at the end", "—",
                      PerRun(runs, figure(&B::residentEndMb)), mb);
            table.Add(budget + ": resident size at the end against idle + 1.1 × budget", "≤ 0 MB",
                      within(&B::residentEndMb), overCeiling, atMost(0));
            table.Add(budget + ": longest gap between two polls at the device", "≤ 1,600 ms",
                      PerRun(runs, figure(&B::longestPollGapMs)), ms, atMost(1600));
            table.Add(budget + ": longest hold of the window's thread", "≤ 50 ms",
                      PerRun(runs, figure(&B::longestHoldMs)), ms, atMost(50));
        }
    }
    if (taken("memory")) {
        const std::string lines = Fixed(double(d.lines), 0) + " lines";
        table.Add(
            "Log pane: resident growth per line with its time kept, " + lines + " appended",
            "≤ 190 B", PerRun(runs, [](const Figures& f) { return f.bytesPerLogLine; }),
            [](double v) { return Fixed(v, 1) + " B"; }, atMost(190));
        table.Add("Log pane: heap growth per line (with reserved, untouched capacity)", "—",
                  PerRun(runs, [](const Figures& f) { return f.heapBytesPerLogLine; }),
                  [](double v) { return Fixed(v, 1) + " B"; });
    }
}

void AddLinkRows(norva::bench::ResultsTable& table,
                 const std::vector<norva::bench::LinkFigures>& runs) {
    using Figures = norva::bench::LinkFigures;
    if (runs.empty()) return;
    const auto ms = [](double v) { return Fixed(v, 1) + " ms"; };
    const auto atMost = [](double limit) { return [limit](double v) { return v <= limit; }; };
    std::vector<double> p50;
    std::vector<double> slowest;
    for (const Figures& f : runs) {
        p50.push_back(Median(f.reappearToAnswerMs));
        slowest.push_back(Largest(f.reappearToAnswerMs));
    }
    const std::string trials = std::to_string(runs.front().reappearToAnswerMs.size());
    table.Add("Link: device path back → power-up answered, median of " + trials, "≤ 500 ms", p50,
              ms, atMost(500));
    table.Add("Link: device path back → power-up answered, slowest", "≤ 500 ms", slowest, ms,
              atMost(500));
    table.Add("Link: port change under a never-quiet line", "≤ 100 ms",
              PerRun(runs, [](const Figures& f) { return f.portChangeMs; }), ms, atMost(100));
    table.Add("Link: close under a never-quiet line", "≤ 100 ms",
              PerRun(runs, [](const Figures& f) { return f.closeMs; }), ms, atMost(100));
    table.Add(
        "Link: CPU while waiting for a pulled device", "< 0.1 % of one core",
        PerRun(runs, [](const Figures& f) { return f.waitingCpuPercent; }),
        [](double v) { return Fixed(v, 3) + " %"; }, [](double v) { return v < 0.1; });
}

void AddTapSoakRows(norva::bench::ResultsTable& table,
                    const std::vector<norva::bench::TapSoakFigures>& runs) {
    using Figures = norva::bench::TapSoakFigures;
    if (runs.empty()) return;
    const std::string soak =
        "Tap soak, " + Fixed(runs.front().seconds, 0) + " s at 2 notes a second";
    const auto percent = [](double v) { return Fixed(v, 3) + " % of one core"; };
    std::vector<double> ratio;
    for (const Figures& f : runs)
        ratio.push_back(f.tapCpuMs / f.hostCpuMs);
    table.Add(soak + ": the tap's processor time", "≤ norva-cli's",
              PerRun(runs, [](const Figures& f) { return f.tapCpuMs / (f.seconds * 10); }),
              percent);
    table.Add(soak + ": norva-cli's as the host, same traffic", "—",
              PerRun(runs, [](const Figures& f) { return f.hostCpuMs / (f.seconds * 10); }),
              percent);
    table.Add(
        soak + ": the tap's against norva-cli's", "≤ 1", ratio,
        [](double v) { return Fixed(v, 2); }, [](double v) { return v <= 1; });
    table.Add(soak + ": notes the tap saw stacked", "—",
              PerRun(runs, [](const Figures& f) { return double(f.notesSeenByTap); }),
              [](double v) { return Fixed(v, 0); });
}

void AddTapRows(norva::bench::ResultsTable& table,
                const std::vector<norva::bench::TapOrderFigures>& runs) {
    using Figures = norva::bench::TapOrderFigures;
    if (runs.empty()) return;
    const auto ms = [](double v) { return Fixed(v, 3) + " ms"; };
    const auto count = [](double v) { return Fixed(v, 0); };
    table.Add("Tap order on pseudo-terminals: pairs written 0 to 10 ms apart", "—",
              PerRun(runs, [](const Figures& f) { return double(f.pairs); }), count);
    table.Add("Tap order: pairs timed in the wrong order", "0",
              PerRun(runs, [](const Figures& f) { return double(f.inverted); }), count,
              [](double v) { return v == 0; });
    table.Add("Tap order: pairs read in one pass (timed alike: marked uncertain)", "—",
              PerRun(runs, [](const Figures& f) { return double(f.tied); }), count);
    table.Add("Tap order: widest gap read in one pass", "—",
              PerRun(runs, [](const Figures& f) { return double(f.widestTiedGapMicros) / 1000; }),
              ms);
    table.Add("Tap order: read timed after the write, p99", "—",
              PerRun(runs, [](const Figures& f) { return f.lateP99Ms; }), ms);
    table.Add("Tap order: read timed after the write, p99.9", "≤ the bound's 20 ms",
              PerRun(runs, [](const Figures& f) { return f.lateP999Ms; }), ms,
              [](double v) { return v <= 20; });
    table.Add("Tap order: read timed after the write, slowest", "—",
              PerRun(runs, [](const Figures& f) { return f.lateMaxMs; }), ms);
}

void AddReplayRows(norva::bench::ResultsTable& table, const Options& options,
                   const std::vector<norva::bench::ReplayFigures>& runs) {
    using Figures = norva::bench::ReplayFigures;
    if (runs.empty()) return;
    const double size = runs.front().captureMegabytes;
    const std::string capture = "Replay of a " + Fixed(size, 0) + " MB capture (" +
                                Fixed(double(options.replayLines), 0) + " lines)";
    const auto mb = [](double v) { return Fixed(v, 1) + " MB"; };
    table.Add(
        capture + ": start to the first block at the host", "< 1,000 ms",
        PerRun(runs, [](const Figures& f) { return f.firstBlockMs; }),
        [](double v) { return Fixed(v, 0) + " ms"; }, [](double v) { return v < 1000; });
    table.Add(capture + ": largest resident size up to the first block",
              "≤ twice the capture (" + Fixed(2 * size, 0) + " MB)",
              PerRun(runs, [](const Figures& f) { return f.peakResidentMb; }), mb,
              [size](double v) { return v <= 2 * size; });
    table.Add(capture + ": largest resident size after 3 s of playing",
              "≤ twice the capture (" + Fixed(2 * size, 0) + " MB)",
              PerRun(runs, [](const Figures& f) { return f.playingResidentMb; }), mb,
              [size](double v) { return v <= 2 * size; });
}

void AddCoreRows(norva::bench::ResultsTable& table, const std::vector<CollectingReporter>& runs) {
    if (runs.empty()) return;
    for (const std::string& name : runs.front().order) {
        std::vector<double> values;
        std::string unit;
        for (const CollectingReporter& run : runs) {
            const auto it = run.figures.find(name);
            values.push_back(it == run.figures.end() ? std::nan("") : it->second.value);
            if (it != run.figures.end()) unit = it->second.unit;
        }
        const int digits = unit == "MB/s" || unit == "B/event" ? 1 : 0;
        const auto format = [unit, digits](double v) { return Fixed(v, digits) + " " + unit; };
        if (unit == "B/event") {
            table.Add("In-process: " + name, "≤ 24 B", values, format,
                      [](double v) { return v <= 24; });
        } else if (unit == "events/s" && name.find("parsing") == std::string::npos) {
            // The reading alone: a day's capture in well under a second.
            table.Add("In-process: " + name, "≥ 5,000,000 events/s", values, format,
                      [](double v) { return v >= 5e6; });
        } else {
            table.Add("In-process: " + name, "—", values, format);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == norva::bench::kMeasuredProgramArgument)
        return norva::bench::RunMeasuredProgram(argv[0]);

    Options options;
    if (!Parse(argc, argv, options)) {
        Usage(argv[0]);
        return 2;
    }
    const auto& only = options.driver.only;
    if (!only.empty() && std::all_of(only.begin(), only.end(), [](const std::string& name) {
            return name.rfind("tap-", 0) == 0;
        })) {
        options.core = options.program = false;
    }

    // The real window system where there is one to be had: a private X server.
    std::unique_ptr<VirtualDisplay> display;
    if (options.platform.empty() || options.platform == "xcb") {
        if (VirtualDisplay::Available()) display = std::make_unique<VirtualDisplay>();
        if (display && display->ok()) {
            options.driver.platform = "xcb";
            options.driver.display = display->name().toStdString();
        } else if (options.platform == "xcb") {
            std::fprintf(stderr, "no X server for --platform xcb (is Xvfb installed?)\n");
            return 1;
        }
    }
    if (options.driver.platform.empty()) options.driver.platform = "offscreen";
    options.driver.executable = ExecutablePath();
    options.driver.childLog = options.output + ".program-log";
    std::remove(options.driver.childLog.c_str());

    // The in-process pane benchmark needs the widget framework, off-screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    int benchmarkArgc = static_cast<int>(options.benchmarkArguments.size());
    benchmark::Initialize(&benchmarkArgc, options.benchmarkArguments.data());

    std::vector<CollectingReporter> coreRuns(static_cast<std::size_t>(options.runs));
    std::vector<norva::bench::ProgramFigures> programRuns;
    std::vector<norva::bench::LinkFigures> linkRuns;
    std::vector<norva::bench::ReplayFigures> replayRuns;
    std::vector<norva::bench::PictureFigures> pictureRuns;
    const bool replay = only.empty() || std::find(only.begin(), only.end(), "replay") != only.end();
    const bool picture =
        only.empty() || std::find(only.begin(), only.end(), "picture") != only.end();
    std::vector<norva::bench::TapOrderFigures> tapRuns;
    std::vector<norva::bench::TapSoakFigures> tapSoakRuns;
    const auto named = [&only](const char* measurement) {
        return std::find(only.begin(), only.end(), measurement) != only.end();
    };
    for (int run = 0; run < options.runs; ++run) {
        // The tap's measurements are long; they run only when named.
        if (named("tap-order")) {
            std::fprintf(stderr, "run %d: the tap's order\n", run + 1);
            tapRuns.push_back(norva::bench::MeasureTapOrder(options.driver.trials));
        }
        if (named("tap-soak")) {
            std::fprintf(stderr, "run %d: the tap's soak (%d s)\n", run + 1, options.tapSeconds);
            tapSoakRuns.push_back(norva::bench::MeasureTapSoak(options.tapSeconds));
        }
        if (options.core) {
            std::fprintf(stderr, "run %d: in-process benchmarks\n", run + 1);
            benchmark::RunSpecifiedBenchmarks(&coreRuns[std::size_t(run)]);
            std::fprintf(stderr, "run %d: the serial link\n", run + 1);
            linkRuns.push_back(norva::bench::MeasureLink(10, options.driver.seconds));
            if (replay) {
                std::fprintf(stderr, "run %d: the simulator's replay\n", run + 1);
                replayRuns.push_back(
                    norva::bench::MeasureReplay(options.replaySimulator, options.replayLines));
            }
            if (picture) {
                std::fprintf(stderr, "run %d: the session picture\n", run + 1);
                pictureRuns.push_back(norva::bench::MeasurePicture(true));
            }
        }
        if (options.program) {
            std::fprintf(stderr, "run %d: the whole program (%s)\n", run + 1,
                         options.driver.platform.c_str());
            programRuns.push_back(norva::bench::MeasureProgram(options.driver));
        }
    }
    benchmark::Shutdown();

    norva::bench::ResultsTable table(options.runs);
    if (options.program) AddProgramRows(table, options, programRuns);
    if (options.core) AddLinkRows(table, linkRuns);
    AddTapRows(table, tapRuns);
    AddTapSoakRows(table, tapSoakRuns);
    if (options.core) AddReplayRows(table, options, replayRuns);
    if (options.core) norva::bench::AddPictureRows(table, pictureRuns);
    if (options.core) AddCoreRows(table, coreRuns);

    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
    std::string report = "Norva Protocol benchmarks, " + std::string(date) +
                         ". Machine: " + norva::bench::MachineSummary() + ". Window system: " +
                         (options.driver.platform == "xcb" ? "xcb on Xvfb" : "offscreen") +
                         ".\n\n" + table.Markdown();
    std::string problems;
    for (std::size_t run = 0; run < programRuns.size(); ++run) {
        for (const std::string& problem : programRuns[run].problems)
            problems += "- run " + std::to_string(run + 1) + ": " + problem + "\n";
    }
    if (!problems.empty()) report += "\nProblems:\n" + problems;

    std::cout << report << std::flush;
    std::ofstream file(options.output);
    file << report;
    return file ? 0 : 1;
}
