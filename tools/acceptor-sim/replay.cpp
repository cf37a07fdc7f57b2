#include "tools/acceptor-sim/replay.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "protocol/wire.h"
#include "tools/acceptor-sim/options.h"
#include "tools/acceptor-sim/serial_line.h"
#include "tools/acceptor-sim/tap_links.h"

namespace norva::sim {

namespace {

using std::chrono::milliseconds;

// How long a late answer is waited for beyond its recorded time, and how long the line must
// stay quiet after the last answer before the verdict.
constexpr milliseconds kAnswerPatience{2000};
constexpr milliseconds kSettle{300};

int MsUntil(Replayer::Clock::time_point due, Replayer::Clock::time_point now) {
    if (due <= now) return 0;
    const auto ms = std::chrono::ceil<milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

}  // namespace

Result<ReplayFeed::Totals> ReplayFeed::Check() {
    Totals totals;
    for (;;) {
        const Result<bool> more = reader_.Next();
        if (!more.ok()) return more.outcome();
        if (!more.value()) break;
        const CaptureEvent& event = reader_.event();
        if (event.kind == TrafficKind::Received) ++totals.blocks;
        if (event.kind != TrafficKind::Sent) continue;
        for (const std::uint8_t byte : event.bytes)
            ++(byte == wire::kPoll ? totals.recordedPolls : totals.answers);
    }
    if (Outcome rewound = reader_.Rewind(); !rewound.ok()) return rewound;
    blockLimit_ = totals.blocks;
    return totals;
}

Result<ReplayFeed::Step> ReplayFeed::Next() {
    Step step;
    for (;;) {
        const Result<bool> more = reader_.Next();
        if (!more.ok()) return more.outcome();
        if (!more.value()) break;
        const CaptureEvent& event = reader_.event();
        if (event.kind == TrafficKind::Received) {
            // What was added to the file since the check is not played.
            if (blocksGiven_ == blockLimit_) break;
            const std::int64_t gap = blocksGiven_ == 0 ? 0 : event.unixMicros - lastBlockAt_;
            // A wall clock set back during the session gives no negative wait.
            step.block = Block{event.bytes, std::max<std::int64_t>(gap, 0)};
            lastBlockAt_ = event.unixMicros;
            ++blocksGiven_;
            return step;
        }
        if (event.kind != TrafficKind::Sent) continue;
        for (const std::uint8_t byte : event.bytes) {
            if (byte == wire::kPoll) continue;
            step.answers.push_back(byte);
            if (blocksGiven_ > 0)
                step.lastAnswerMicros = std::max<std::int64_t>(event.unixMicros - lastBlockAt_, 0);
        }
    }
    return step;
}

Replayer::Replayer(ReplaySetup setup, ReplayFeed feed)
    : setup_(std::move(setup)),
      feed_(std::move(feed)),
      console_(setup_.outFd, setup_.errFd, setup_.stopFd),
      lastPlay_(console_.start()),
      lastHostByte_(console_.start()),
      lineResumeAt_(console_.start()) {}

Replayer::Clock::duration Replayer::Scaled(std::int64_t micros) const {
    const double seconds = static_cast<double>(micros) / 1e6 / setup_.speed;
    // Past a century the wait is as good as endless; keep clear of the clock's range.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 3.15e9)));
}

bool Replayer::Load() {
    Result<ReplayFeed::Step> step = feed_.Next();
    if (!step.ok()) {
        // Checked before the start, so the file changed under the replay.
        unreadable_ = step.outcome();
        return false;
    }
    expected_ = std::move(step->answers);
    next_ = std::move(step->block);
    lastAnswerMicros_ = step->lastAnswerMicros;
    expectedSoFar_ += expected_.size();
    answered_ = 0;
    return true;
}

void Replayer::CloseGroup() {
    for (; answered_ < expected_.size(); ++answered_) {
        console_.Print(console_.Stamp() + " << --   capture " + HexText(expected_[answered_]) +
                       "   DIFFERS");
        ++differed_;
    }
}

void Replayer::PlayNext() {
    CloseGroup();
    const ReplayFeed::Block block = std::move(*next_);
    next_.reset();
    const Written written = WriteToLine(setup_.lineFd, block.bytes, setup_.stopFd,
                                        [this](std::span<const std::uint8_t> piece) {
                                            if (setup_.taps)
                                                setup_.taps->FromDevice(piece, console_);
                                        });
    if (written.bytes > 0)
        console_.Print(console_.Stamp() + " >> " + HexText(block.bytes.data(), written.bytes));
    if (written.bytes < block.bytes.size()) {
        ++undelivered_;
        if (!written.stopped) {
            console_.Tell("!!",
                          "line stalled: " + std::to_string(block.bytes.size() - written.bytes) +
                              " of " + std::to_string(block.bytes.size()) + " bytes not sent");
        }
    }
    stopRequested_ = written.stopped;
    lastPlay_ = Clock::now();
    if (!Load()) stopRequested_ = true;
}

void Replayer::Judge(std::uint8_t byte) {
    if (byte == wire::kPoll) {
        ++hostPolls_;
        console_.Print(console_.Stamp() + " << 0C   poll, set aside");
        return;
    }
    if (answered_ >= expected_.size()) {
        console_.Print(console_.Stamp() + " << " + HexText(byte) + "   capture --   DIFFERS");
        ++differed_;
        return;
    }
    const std::uint8_t want = expected_[answered_++];
    const bool same = byte == want;
    console_.Print(console_.Stamp() + " << " + HexText(byte) + "   capture " + HexText(want) +
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
    const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(n));
    if (setup_.taps) setup_.taps->FromHost(bytes, console_);
    for (const std::uint8_t byte : bytes)
        Judge(byte);
}

int Replayer::Run() {
    if (!Load()) return Finish(kExitScript, true);
    for (;;) {
        if (unreadable_) return Finish(kExitScript, true);
        if (stopRequested_) return Finish(kExitOk, true);
        const auto now = Clock::now();
        Clock::time_point due;
        if (next_) {
            const auto gapDone = lastPlay_ + Scaled(next_->gapMicros);
            if (now >= gapDone && (AnswersIn() || now >= gapDone + kAnswerPatience)) {
                PlayNext();
                continue;
            }
            due = now < gapDone ? gapDone : gapDone + kAnswerPatience;
        } else {
            const auto deadline = lastPlay_ + Scaled(lastAnswerMicros_) + kAnswerPatience;
            const auto settled = std::max(lastPlay_, lastHostByte_) + kSettle;
            if ((AnswersIn() && now >= settled) || now >= deadline) return Finish(kExitOk, false);
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
        if (stopAt >= 0 && fds[stopAt].revents != 0) return Finish(kExitOk, true);
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
    if (unreadable_) console_.Tell("!!", unreadable_->Describe());
    if (!early) CloseGroup();
    std::string summary = "replay: answers matched " + std::to_string(matched_) + ", differed " +
                          std::to_string(differed_) +
                          "; polls set aside: " + std::to_string(setup_.totals.recordedPolls) +
                          " in the capture, " + std::to_string(hostPolls_) + " from the host";
    if (early) {
        const std::size_t unchecked = setup_.totals.answers -
                                      std::min(setup_.totals.answers, expectedSoFar_) +
                                      (expected_.size() - answered_);
        summary +=
            "; stopped before the end, " + std::to_string(unchecked) + " answers not checked";
    }
    if (undelivered_ > 0)
        summary += "; " + std::to_string(undelivered_) + " blocks not delivered whole";
    const std::optional<bool> hostOpened =
        setup_.line ? setup_.line->HostOpened() : std::optional<bool>();
    if (hostOpened == false) summary += "; no host opened the line";
    console_.Print(summary);
    if (setup_.taps) setup_.taps->Report(console_);
    if (code != 0) return code;
    const bool delivered = undelivered_ == 0 && hostOpened != false;
    return differed_ == 0 && !early && delivered ? kExitOk : kExitReplayDiffered;
}

}  // namespace norva::sim
