#pragma once

#include <string>
#include <vector>

namespace norva::bench {

struct DriverOptions {
    std::string executable;  // this program, started again as the measured program
    std::string platform;    // "xcb" (with display) or "offscreen"
    std::string display;
    std::string childLog;  // where the measured programs' own output goes
    int seconds = 10;      // flood and device-gone windows
    int idleSeconds = 30;  // each of the two idle windows with the device attached
    // Lines already in the log when the idle windows start: an hour of polling, so that the pane
    // scrolls with every line as it does for an operator who has been at the bench a while.
    long idleHistoryLines = 2400;
    int trials = 200;         // answer latency
    long lines = 1'000'000;   // log pane memory
    int startups = 5;         // start-ups of their own, besides those of the other measurements
    int budgetSeconds = 180;  // the flood under each log budget
    std::vector<int> budgetMegabytes = {60, 200, 1000};
    std::vector<std::string> only;  // names of the measurements to take; empty: all
};

// The flood under one log budget.
struct BudgetFigures {
    int megabytes = 0;
    double linesPerSecond;
    double residentIdleMb;    // the same program before the flood
    double residentPeakMb;    // the process's peak (VmHWM) by the end of the flood
    double residentEndMb;     // once every byte sent was handled
    double longestPollGapMs;  // between two polls as the device received them, flood included
    double longestHoldMs;     // the window's thread kept from its event loop
};

// What one run of the whole-program measurements found; NaN where a measurement failed.
struct ProgramFigures {
    std::vector<double> startupMs;    // every start-up seen in the run
    std::vector<double> mainMs;       // of which: until main(), the libraries loaded
    std::vector<double> appMs;        // until the window system was connected
    double silentCpuPercent;          // polling on, device silent
    double freshAnsweringCpuPercent;  // the same, the first seconds after the port is picked
    double answeringCpuPercent;       // polling on, device answering every poll
    double cpuMsPerPollCycle;         // processor time of one poll and its answer, all included
    double vanishedCpuPercent;
    double idleResidentMb;
    double idleTimerLateMs;
    double latencyP50Ms;
    double latencyP99Ms;
    double latencyMaxMs;
    int latencyMissing = 0;  // trials without an answer
    double floodBytesPerSecond;
    double floodBytesSent;
    double floodBytesLost;  // sent and not logged as a status line
    double floodTimerLateMs;
    double floodResidentMb;
    std::vector<BudgetFigures> budgets;  // in the order of DriverOptions::budgetMegabytes
    double bytesPerLogLine;
    double heapBytesPerLogLine;
    std::vector<std::string> problems;
};

ProgramFigures MeasureProgram(const DriverOptions& options);

}  // namespace norva::bench
