#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "tools/acceptor-sim/acceptor.h"
#include "tools/acceptor-sim/commands.h"
#include "tools/acceptor-sim/console.h"

namespace norva::sim {

class TapLinks;

// A command line longer than this is no command: it is skipped with a note, not gathered.
inline constexpr std::size_t kMaxInputLineBytes = 64 * 1024;
// Input that runs this long without a line end is not commands at all: it is no longer read.
inline constexpr std::size_t kMaxInputWithoutLineEnd = 1 << 20;
// Lines read ahead of a sleeping input; more are left unread until these have run.
inline constexpr std::size_t kMaxQueuedInputLines = 1024;

struct SimulatorSetup {
    int lineFd = -1;        // non-blocking
    bool lineIsPty = true;  // a hang-up is then waited out instead of ending the run
    int inputFd = -1;       // commands, one per line; -1 for none
    int outFd = 1;          // traffic, machine-readable
    int errFd = 2;          // everything for the person
    int stopFd = -1;        // readable when the simulator should stop; -1 for none
    bool exitOnEof = false;
    bool exitAfterScript = false;
    std::optional<Script> script;
    std::optional<double> soakRate;  // notes per second
    std::uint32_t seed = 0;
    // A note left in escrow longer than this is handed back; none: it waits for the host.
    std::optional<std::chrono::steady_clock::duration> escrowTimeout;
    TapLinks* taps = nullptr;
};

// One device on one line, driven by a single poll() loop over the line, the command input and
// the stop descriptor, with the script's sleeps and the soak ticks as its only timers.
class Simulator {
public:
    using Clock = std::chrono::steady_clock;
    enum class StepResult {
        Idle,      // nothing became ready and no timer was due
        Busy,      // something was handled
        Finished,  // the run is over; see exitCode()
    };

    explicit Simulator(SimulatorSetup setup);

    // Powers the device up and starts the script and soak timers.
    void Start();
    // Waits at most maxWaitMs (-1: until something is due) and handles what came.
    StepResult Step(int maxWaitMs);
    // Start() was called; steps until the run is over and returns its exit status.
    int Run();

    int exitCode() const { return exitCode_; }
    const Acceptor& acceptor() const { return acceptor_; }

    // Writes one line of traffic-side output (the first line, for one).
    void PrintLine(std::string_view line) const { console_.Print(line); }
    // Writes one note for the person.
    void Tell(std::string_view text) const { console_.Tell("--", text); }

private:
    struct Source {
        std::deque<std::pair<int, std::string>> lines;  // line number, text; stdin
        std::deque<ScriptStep> steps;                   // script
        Clock::time_point resumeAt{};
        bool isScript = false;
    };

    bool RunDue();
    bool RunSource(Source& source, Clock::time_point now);
    void Execute(const Command& command);
    void SoakTick();
    void Apply(const Effects& effects);
    void Send(const Bytes& bytes);
    void HandleLineInput();
    void LineHungUp(const std::string& why);
    void HandleCommandInput();
    void TakeInput(std::string_view chunk);
    void EndInput();
    void WatchEscrow();
    void CheckFinished();
    void Finish(int code);
    std::optional<Clock::time_point> NextDue() const;

    SimulatorSetup setup_;
    Acceptor acceptor_;
    Console console_;
    Source script_;
    Source input_;
    int inputLineNumber_ = 0;
    std::string partialInput_;
    std::size_t skippedInput_ = 0;  // bytes of an overlong line skipped so far
    bool inputOpen_ = false;
    bool scriptRunning_ = false;
    Clock::time_point lineResumeAt_{};
    bool hangUpReported_ = false;
    std::mt19937 random_;
    Clock::duration soakPeriod_{};
    Clock::time_point nextSoak_{};
    bool soakSkipping_ = false;
    std::optional<Clock::time_point> escrowDeadline_;
    bool finished_ = false;
    int exitCode_ = 0;
};

}  // namespace norva::sim
