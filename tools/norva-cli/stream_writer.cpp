#include "tools/norva-cli/stream_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>

namespace norva::cli {

struct StreamWriter::State {
    int fd;
    std::string name;
    std::size_t maxWaitingBytes;
    std::function<void(const Outcome&)> onFailure;

    std::mutex mutex;
    std::condition_variable wake;      // to the writer: something to write, or the end
    std::condition_variable progress;  // from the writer: bytes taken, or done
    std::string waiting;
    std::size_t inHand = 0;  // bytes of the writer's batch not written yet: counted in the bound
    bool writing = false;
    bool closing = false;
    bool abandoned = false;  // the owner is gone: report nothing more
    std::uint64_t written = 0;
    std::uint64_t dropped = 0;
    Outcome failure;
};

namespace {

std::uint64_t LinesIn(std::string_view text) {
    return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

StreamWriter::StreamWriter(int fd, std::string name, std::size_t maxWaitingBytes,
                           std::function<void(const Outcome&)> onFailure)
    : state_(std::make_shared<State>()) {
    state_->fd = fd;
    state_->name = std::move(name);
    state_->maxWaitingBytes = maxWaitingBytes;
    state_->onFailure = std::move(onFailure);
    thread_ = std::thread(&StreamWriter::Run, state_);
}

StreamWriter::~StreamWriter() {
    bool busy = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->waiting.clear();
        state_->closing = true;
        state_->abandoned = true;
        busy = state_->writing;
    }
    state_->wake.notify_one();
    // A writer blocked on a reader that never reads is left to the process's end.
    if (busy)
        thread_.detach();
    else
        thread_.join();
}

bool StreamWriter::Write(std::string_view lines) {
    std::lock_guard lock(state_->mutex);
    if (!state_->failure.ok() || state_->closing ||
        state_->waiting.size() + state_->inHand + lines.size() > state_->maxWaitingBytes) {
        state_->dropped += LinesIn(lines);
        return false;
    }
    state_->waiting += lines;
    state_->wake.notify_one();
    return true;
}

void StreamWriter::WriteAlways(std::string_view text) {
    std::lock_guard lock(state_->mutex);
    if (!state_->failure.ok() || state_->closing) return;
    state_->waiting += text;
    state_->wake.notify_one();
}

void StreamWriter::MarkFailed(const Outcome& failure) {
    std::lock_guard lock(state_->mutex);
    if (state_->failure.ok()) state_->failure = failure;
}

bool StreamWriter::Finish(std::chrono::milliseconds patience) {
    std::unique_lock lock(state_->mutex);
    state_->closing = true;
    state_->wake.notify_one();
    const auto done = [this] {
        return !state_->failure.ok() || (!state_->writing && state_->waiting.empty());
    };
    while (!done()) {
        const std::uint64_t before = state_->written;
        const bool moved = state_->progress.wait_for(
            lock, patience, [&] { return done() || state_->written != before; });
        if (!moved) return false;
    }
    return state_->failure.ok();
}

std::uint64_t StreamWriter::droppedLines() const {
    std::lock_guard lock(state_->mutex);
    return state_->dropped;
}

Outcome StreamWriter::failure() const {
    std::lock_guard lock(state_->mutex);
    return state_->failure;
}

void StreamWriter::Run(const std::shared_ptr<State>& shared) {
    State& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.closing || !s.waiting.empty(); });
        if (s.waiting.empty() || !s.failure.ok()) return;
        const std::string batch = std::move(s.waiting);
        s.waiting.clear();
        s.inHand = batch.size();
        s.writing = true;
        lock.unlock();
        std::size_t done = 0;
        int error = 0;
        while (done < batch.size() && error == 0) {
            const ssize_t n = ::write(s.fd, batch.data() + done, batch.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            done += static_cast<std::size_t>(n);
            std::lock_guard progressLock(s.mutex);
            s.written += static_cast<std::uint64_t>(n);
            s.inHand -= static_cast<std::size_t>(n);
            s.progress.notify_all();
        }
        lock.lock();
        s.writing = false;
        s.inHand = 0;
        if (error != 0 && s.failure.ok()) {
            s.failure = Outcome::Failed(s.name, error);
            s.dropped += LinesIn(std::string_view(batch).substr(done)) + LinesIn(s.waiting);
            s.waiting.clear();
            const bool tell = !s.abandoned && s.onFailure;
            const Outcome failure = s.failure;
            s.progress.notify_all();
            lock.unlock();
            if (tell) s.onFailure(failure);
            return;
        }
        s.progress.notify_all();
    }
}

}  // namespace norva::cli
