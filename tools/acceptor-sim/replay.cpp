#include "tools/acceptor-sim/replay.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "tools/acceptor-sim/console.h"
#include "tools/acceptor-sim/options.h"

namespace norva::sim {

namespace {

using std::chrono::milliseconds;

// How long a late answer is waited for beyond its recorded time, and how long the line must
// stay quiet after the last answer before the verdict.
constexpr milliseconds kAnswerPatience{2000};
constexpr milliseconds kSettle{300};
constexpr milliseconds kHangUpPause{200};
constexpr int kWriteWaitMs = 1000;

std::string Hex(std::uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

int MsUntil(Replayer::Clock::time_point due, Replayer::Clock::time_point now) {
    if (due <= now) return 0;
    const auto ms = std::chrono::ceil<milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

}  // namespace

ReplayPlan PlanReplay(const std::vector<CaptureEvent>& events) {
    ReplayPlan plan;
    plan.expected.emplace_back();
    std::int64_t lastBlockAt = 0;
    for (const CaptureEvent& event : events) {
        if (event.kind == TrafficKind::Received) {
            const std::int64_t gap = plan.blocks.empty() ? 0 : event.unixMicros - lastBlockAt;
            // A wall clock set back during the session gives no negative wait.
            plan.blocks.push_back({event.bytes, std::max<std::int64_t>(gap, 0)});
            plan.expected.emplace_back();
            lastBlockAt = event.unixMicros;
            plan.lastAnswerMicros = 0;
        } else if (event.kind == TrafficKind::Sent) {
            for (const std::uint8_t byte : event.bytes) {
                if (byte == kPollByte) {
                    ++plan.recordedPolls;
                } else {
                    plan.expected.back().push_back(byte);
                    if (!plan.blocks.empty()) {
                        plan.lastAnswerMicros =
                            std::max<std::int64_t>(event.unixMicros - lastBlockAt, 0);
                    }
                }
            }
        }
    }
    return plan;
}

Replayer::Replayer(ReplaySetup setup)
    : setup_(std::move(setup)),
      console_(setup_.outFd, setup_.errFd),
      lastPlay_(console_.start()),
      lastHostByte_(console_.start()),
      lineResumeAt_(console_.start()) {}

Replayer::Clock::duration Replayer::Scaled(std::int64_t micros) const {
    const double seconds = static_cast<double>(micros) / 1e6 / setup_.speed;
    // Past a century the wait is as good as endless; keep clear of the clock's range.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 3.15e9)));
}

bool Replayer::AnswersIn() const {
    return answered_ >= setup_.plan.expected[played_].size();
}

void Replayer::CloseGroup() {
    const auto& expected = setup_.plan.expected[played_];
    for (; answered_ < expected.size(); ++answered_) {
        console_.Print(console_.Stamp() + " << --   capture " + Hex(expected[answered_]) +
                       "   DIFFERS");
        ++differed_;
    }
}

void Replayer::PlayNext() {
    CloseGroup();
    const auto& bytes = setup_.plan.blocks[played_].bytes;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(setup_.lineFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{setup_.lineFd, POLLOUT, 0};
            if (::poll(&p, 1, kWriteWaitMs) == 1 && (p.revents & POLLOUT)) continue;
        }
        break;
    }
    std::string line = console_.Stamp() + " >>";
    for (std::size_t i = 0; i < done; ++i)
        line += " " + Hex(bytes[i]);
    if (done > 0) console_.Print(line);
    if (done < bytes.size()) {
        console_.Tell("!!", "line stalled: " + std::to_string(bytes.size() - done) + " of " +
                                std::to_string(bytes.size()) + " bytes not sent");
    }
    ++played_;
    answered_ = 0;
    lastPlay_ = Clock::now();
}

void Replayer::Judge(std::uint8_t byte) {
    if (byte == kPollByte) {
        ++hostPolls_;
        console_.Print(console_.Stamp() + " << 0C   poll, set aside");
        return;
    }
    const auto& expected = setup_.plan.expected[played_];
    if (answered_ >= expected.size()) {
        console_.Print(console_.Stamp() + " << " + Hex(byte) + "   capture --   DIFFERS");
        ++differed_;
        return;
    }
    const std::uint8_t want = expected[answered_++];
    const bool same = byte == want;
    console_.Print(console_.Stamp() + " << " + Hex(byte) + "   capture " + Hex(want) +
                   (same ? "   match" : "   DIFFERS"));
    ++(same ? matched_ : differed_);
}

void Replayer::HandleHostBytes() {
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(setup_.lineFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        if (!setup_.lineIsPty) {
            console_.Tell("!!", std::string("serial device lost: ") +
                                    (n == 0 ? "end of file" : std::strerror(errno)));
            lineLost_ = true;
            return;
        }
        lineResumeAt_ = Clock::now() + kHangUpPause;
        return;
    }
    lastHostByte_ = Clock::now();
    for (ssize_t i = 0; i < n; ++i)
        Judge(buffer[i]);
}

int Replayer::Run() {
    const ReplayPlan& plan = setup_.plan;
    for (;;) {
        const auto now = Clock::now();
        Clock::time_point due;
        if (played_ < plan.blocks.size()) {
            const auto gapDone = lastPlay_ + Scaled(plan.blocks[played_].gapMicros);
            if (now >= gapDone && (AnswersIn() || now >= gapDone + kAnswerPatience)) {
                PlayNext();
                continue;
            }
            due = now < gapDone ? gapDone : gapDone + kAnswerPatience;
        } else {
            const auto deadline = lastPlay_ + Scaled(plan.lastAnswerMicros) + kAnswerPatience;
            const auto settled = std::max(lastPlay_, lastHostByte_) + kSettle;
            if ((AnswersIn() && now >= settled) || now >= deadline) return Finish(0, false);
            due = AnswersIn() ? std::min(settled, deadline) : deadline;
        }

        pollfd fds[2];
        nfds_t count = 0;
        int lineAt = -1, stopAt = -1;
        if (now >= lineResumeAt_) {
            lineAt = static_cast<int>(count);
            fds[count++] = {setup_.lineFd, POLLIN, 0};
        } else {
            due = std::min(due, lineResumeAt_);
        }
        if (setup_.stopFd >= 0) {
            stopAt = static_cast<int>(count);
            fds[count++] = {setup_.stopFd, POLLIN, 0};
        }
        const int ready = ::poll(fds, count, MsUntil(due, now));
        if (ready < 0 && errno != EINTR) {
            console_.Tell("!!", std::string("poll failed: ") + std::strerror(errno));
            return kExitLineLost;
        }
        if (ready <= 0) continue;
        if (stopAt >= 0 && fds[stopAt].revents != 0) return Finish(0, true);
        if (lineAt >= 0 && fds[lineAt].revents != 0) {
            if (fds[lineAt].revents & POLLIN) {
                HandleHostBytes();
            } else if (!setup_.lineIsPty) {
                console_.Tell("!!", "serial device lost: hang-up");
                lineLost_ = true;
            } else {
                lineResumeAt_ = Clock::now() + kHangUpPause;
            }
            if (lineLost_) return Finish(kExitLineLost, true);
        }
    }
}

int Replayer::Finish(int code, bool early) {
    if (!early) CloseGroup();
    std::string summary = "replay: answers matched " + std::to_string(matched_) + ", differed " +
                          std::to_string(differed_) +
                          "; polls set aside: " + std::to_string(setup_.plan.recordedPolls) +
                          " in the capture, " + std::to_string(hostPolls_) + " from the host";
    if (early) {
        std::size_t unchecked = setup_.plan.expected[played_].size() - answered_;
        for (std::size_t g = played_ + 1; g < setup_.plan.expected.size(); ++g)
            unchecked += setup_.plan.expected[g].size();
        summary +=
            "; stopped before the end, " + std::to_string(unchecked) + " answers not checked";
    }
    console_.Print(summary);
    if (code != 0) return code;
    return differed_ == 0 && !early ? kExitOk : kExitReplayDiffered;
}

}  // namespace norva::sim
