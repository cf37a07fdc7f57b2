#include "tools/acceptor-sim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "tools/acceptor-sim/console.h"
#include "tools/acceptor-sim/options.h"
#include "tools/acceptor-sim/serial_line.h"
#include "tools/acceptor-sim/tap_links.h"

namespace norva::sim {

namespace {

using std::chrono::milliseconds;

int MsUntil(Simulator::Clock::time_point due, Simulator::Clock::time_point now) {
    if (due <= now) return 0;
    const auto ms = std::chrono::ceil<milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

}  // namespace

Simulator::Simulator(SimulatorSetup setup)
    : setup_(std::move(setup)), console_(setup_.outFd, setup_.errFd, setup_.stopFd) {}

void Simulator::Start() {
    const auto now = Clock::now();
    inputOpen_ = setup_.inputFd >= 0;
    input_.resumeAt = now;
    if (setup_.script) {
        script_.isScript = true;
        script_.steps.assign(setup_.script->steps.begin(), setup_.script->steps.end());
        script_.resumeAt = now;
        scriptRunning_ = true;
    }
    if (setup_.soakRate) {
        random_.seed(setup_.seed);
        soakPeriod_ = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / *setup_.soakRate));
        nextSoak_ = now + soakPeriod_;
        char text[96];
        std::snprintf(text, sizeof text, "soak: %g notes per second, seed %u", *setup_.soakRate,
                      setup_.seed);
        console_.Tell("--", text);
    }
    Apply(acceptor_.PowerUp());
}

int Simulator::Run() {
    while (Step(-1) != StepResult::Finished) {
    }
    return exitCode_;
}

Simulator::StepResult Simulator::Step(int maxWaitMs) {
    if (finished_) return StepResult::Finished;
    if (RunDue()) return finished_ ? StepResult::Finished : StepResult::Busy;

    auto now = Clock::now();
    int timeout = maxWaitMs;
    if (const auto due = NextDue()) {
        const int ms = MsUntil(*due, now);
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
    }

    pollfd fds[3];
    nfds_t count = 0;
    int lineAt = -1, inputAt = -1, stopAt = -1;
    if (now >= lineResumeAt_) {
        lineAt = static_cast<int>(count);
        fds[count++] = {setup_.lineFd, POLLIN, 0};
    }
    if (inputOpen_ && input_.lines.size() < kMaxQueuedInputLines) {
        inputAt = static_cast<int>(count);
        fds[count++] = {setup_.inputFd, POLLIN, 0};
    }
    if (setup_.stopFd >= 0) {
        stopAt = static_cast<int>(count);
        fds[count++] = {setup_.stopFd, POLLIN, 0};
    }

    const int ready = ::poll(fds, count, timeout);
    if (ready < 0) {
        if (errno == EINTR) return StepResult::Busy;
        console_.Tell("!!", std::string("poll failed: ") + std::strerror(errno));
        Finish(kExitLineLost);
        return StepResult::Finished;
    }
    bool busy = ready > 0;
    if (stopAt >= 0 && fds[stopAt].revents != 0) {
        Finish(kExitOk);
        return StepResult::Finished;
    }
    if (lineAt >= 0 && fds[lineAt].revents != 0) {
        if (fds[lineAt].revents & POLLIN)
            HandleLineInput();
        else
            LineHungUp("hang-up");
    }
    if (inputAt >= 0 && fds[inputAt].revents != 0) HandleCommandInput();
    busy = RunDue() || busy;
    if (finished_) return StepResult::Finished;
    return busy ? StepResult::Busy : StepResult::Idle;
}

std::optional<Simulator::Clock::time_point> Simulator::NextDue() const {
    const auto now = Clock::now();
    std::optional<Clock::time_point> due;
    const auto consider = [&due](Clock::time_point t) {
        if (!due || t < *due) due = t;
    };
    if (scriptRunning_) consider(script_.resumeAt);
    if (input_.resumeAt > now) consider(input_.resumeAt);
    if (setup_.soakRate) consider(nextSoak_);
    if (lineResumeAt_ > now) consider(lineResumeAt_);
    if (escrowDeadline_ && !acceptor_.quiet()) consider(*escrowDeadline_);
    return due;
}

bool Simulator::RunDue() {
    const auto now = Clock::now();
    bool worked = false;
    if (scriptRunning_) {
        worked = RunSource(script_, now);
        if (!finished_ && script_.steps.empty() && now >= script_.resumeAt) {
            scriptRunning_ = false;
            worked = true;
            console_.Tell("--", "script " + setup_.script->fileName + " done");
            if (setup_.exitAfterScript) Finish(kExitOk);
        }
    }
    if (!finished_) worked = RunSource(input_, now) || worked;
    if (!finished_ && escrowDeadline_ && now >= *escrowDeadline_ && !acceptor_.quiet()) {
        const auto limit = std::chrono::duration<double>(*setup_.escrowTimeout).count();
        char why[64];
        std::snprintf(why, sizeof why, "left in escrow longer than %g s", limit);
        Apply(acceptor_.HandBack(why));
        worked = true;
    }
    if (!finished_ && setup_.soakRate && now >= nextSoak_) {
        SoakTick();
        nextSoak_ += soakPeriod_;
        // After a stall (a stopped process, say) the missed ticks are dropped, not made up.
        if (nextSoak_ <= now) nextSoak_ = now + soakPeriod_;
        worked = true;
    }
    CheckFinished();
    return worked;
}

bool Simulator::RunSource(Source& source, Clock::time_point now) {
    bool worked = false;
    while (!finished_ && now >= source.resumeAt) {
        Command command;
        if (source.isScript) {
            if (source.steps.empty()) break;
            command = std::move(source.steps.front().command);
            source.steps.pop_front();
        } else {
            if (source.lines.empty()) break;
            const auto [number, text] = std::move(source.lines.front());
            source.lines.pop_front();
            Result<std::optional<Command>> parsed = ParseCommandLine(text);
            if (!parsed.ok()) {
                console_.Tell("!!", "stdin:" + std::to_string(number) + ": " + parsed.reason());
                worked = true;
                continue;
            }
            if (!parsed.value()) continue;
            command = std::move(*parsed.value());
        }
        worked = true;
        if (command.kind == Command::Kind::Sleep) {
            source.resumeAt = now + milliseconds(command.number);
        } else {
            Execute(command);
        }
    }
    return worked;
}

void Simulator::Execute(const Command& command) {
    switch (command.kind) {
        case Command::Kind::Insert:
            Apply(acceptor_.Insert(static_cast<int>(command.number)));
            break;
        case Command::Kind::Status:
            Apply(acceptor_.SetStatus(command.bytes.at(0)));
            break;
        case Command::Kind::StatusAuto:
            Apply(acceptor_.SetStatus(std::nullopt));
            break;
        case Command::Kind::ShowState:
            console_.Tell("--", acceptor_.Describe());
            break;
        case Command::Kind::Raw:
            Send(command.bytes);
            break;
        case Command::Kind::PowerUp:
            Apply(acceptor_.PowerUp());
            break;
        case Command::Kind::Quiet:
            Apply(acceptor_.SetQuiet(true));
            break;
        case Command::Kind::Talk:
            Apply(acceptor_.SetQuiet(false));
            break;
        case Command::Kind::Help:
            WriteAll(setup_.errFd, CommandHelp(), setup_.stopFd);
            break;
        case Command::Kind::Quit:
            Finish(kExitOk);
            break;
        case Command::Kind::Sleep:
            break;
    }
}

void Simulator::SoakTick() {
    // The channel is drawn only for a note that goes in, so that a seed gives the same
    // sequence of notes however the host's answers happen to fall between the ticks.
    const char* blocked = acceptor_.quiet()      ? "the device is quiet"
                          : !acceptor_.enabled() ? "the acceptor is disabled"
                          : acceptor_.escrow()   ? "a note is in escrow"
                                                 : nullptr;
    if (blocked) {
        if (!soakSkipping_)
            console_.Tell("--", std::string("soak: skipping ticks while ") + blocked);
        soakSkipping_ = true;
        return;
    }
    soakSkipping_ = false;
    Apply(acceptor_.Insert(static_cast<int>(random_() % kChannels) + 1));
}

void Simulator::Apply(const Effects& effects) {
    for (const Effect& effect : effects) {
        switch (effect.kind) {
            case Effect::Kind::Send:
                Send(effect.bytes);
                break;
            case Effect::Kind::Note:
                console_.Tell("--", effect.text);
                break;
            case Effect::Kind::Refused:
                console_.Tell("!!", effect.text);
                break;
        }
    }
    WatchEscrow();
}

void Simulator::WatchEscrow() {
    if (!acceptor_.escrow()) {
        escrowDeadline_.reset();
    } else if (!escrowDeadline_ && setup_.escrowTimeout) {
        escrowDeadline_ = Clock::now() + *setup_.escrowTimeout;
    }
}

void Simulator::Send(const Bytes& bytes) {
    // Once a stop is pending the stop descriptor stays readable, so no write waits any more.
    const Written written = WriteToLine(setup_.lineFd, bytes, setup_.stopFd,
                                        [this](std::span<const std::uint8_t> piece) {
                                            if (setup_.taps)
                                                setup_.taps->FromDevice(piece, console_);
                                        });
    if (written.bytes > 0)
        console_.Print(console_.Stamp() + " >> " + HexText(bytes.data(), written.bytes));
    if (written.bytes < bytes.size() && !written.stopped) {
        console_.Tell("!!", "line stalled: " + std::to_string(bytes.size() - written.bytes) +
                                " of " + std::to_string(bytes.size()) + " bytes not sent");
    }
}

void Simulator::HandleLineInput() {
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(setup_.lineFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        LineHungUp(n == 0 ? "end of file" : std::strerror(errno));
        return;
    }
    hangUpReported_ = false;
    console_.Print(console_.Stamp() + " << " + HexText(buffer, static_cast<std::size_t>(n)));
    if (setup_.taps) setup_.taps->FromHost({buffer, static_cast<std::size_t>(n)}, console_);
    for (ssize_t i = 0; i < n && !finished_; ++i)
        Apply(acceptor_.OnHostByte(buffer[i]));
}

void Simulator::LineHungUp(const std::string& why) {
    if (!setup_.lineIsPty) {
        console_.Tell("!!", "serial device lost: " + why);
        Finish(kExitLineLost);
        return;
    }
    // With no slave open at all the master reports a hang-up for as long as that lasts; pause
    // rather than spin.
    if (!hangUpReported_)
        console_.Tell("--", "the host side hung up (" + why + "); waiting for it");
    hangUpReported_ = true;
    lineResumeAt_ = Clock::now() + kHangUpPause;
}

void Simulator::HandleCommandInput() {
    char buffer[4096];
    const ssize_t n = ::read(setup_.inputFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n > 0)
        TakeInput({buffer, static_cast<std::size_t>(n)});
    else
        EndInput();
}

// Only what came in is looked at, and a line is gathered only up to the longest a command
// can be.
void Simulator::TakeInput(std::string_view chunk) {
    while (!chunk.empty() && inputOpen_) {
        const std::size_t newline = chunk.find('\n');
        const std::string_view piece = chunk.substr(0, newline);
        if (skippedInput_ == 0 && partialInput_.size() + piece.size() <= kMaxInputLineBytes) {
            partialInput_.append(piece);
        } else {
            if (skippedInput_ == 0) {
                console_.Tell("!!", "stdin:" + std::to_string(inputLineNumber_ + 1) +
                                        ": longer than " + std::to_string(kMaxInputLineBytes) +
                                        " bytes, skipped");
                skippedInput_ = partialInput_.size();
                partialInput_.clear();
            }
            skippedInput_ += piece.size();
            if (skippedInput_ > kMaxInputWithoutLineEnd) {
                console_.Tell("!!",
                              "stdin: no line end in " + std::to_string(kMaxInputWithoutLineEnd) +
                                  " bytes: not commands; standard input is not read any more");
                skippedInput_ = 0;
                EndInput();
                return;
            }
        }
        if (newline == std::string_view::npos) return;
        ++inputLineNumber_;
        if (skippedInput_ == 0)
            input_.lines.emplace_back(inputLineNumber_, std::move(partialInput_));
        partialInput_.clear();
        skippedInput_ = 0;
        chunk.remove_prefix(newline + 1);
    }
}

void Simulator::EndInput() {
    inputOpen_ = false;
    if (!partialInput_.empty() && skippedInput_ == 0)
        input_.lines.emplace_back(++inputLineNumber_, std::move(partialInput_));
    partialInput_.clear();
    skippedInput_ = 0;
}

void Simulator::CheckFinished() {
    if (finished_ || !setup_.exitOnEof || inputOpen_ || scriptRunning_) return;
    if (input_.lines.empty() && Clock::now() >= input_.resumeAt) Finish(kExitOk);
}

void Simulator::Finish(int code) {
    if (finished_) return;
    finished_ = true;
    exitCode_ = code;
    if (setup_.taps) setup_.taps->Report(console_);
}

}  // namespace norva::sim
