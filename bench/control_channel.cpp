#include "control_channel.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace norva::bench {

double Reply::Get(const std::string& key) const {
    const auto it = values.find(key);
    return it == values.end() ? std::nan("") : it->second;
}

Reply ParseReply(std::string_view line) {
    Reply reply;
    std::size_t start = 0;
    bool first = true;
    while (start < line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string_view::npos) end = line.size();
        const std::string_view field = line.substr(start, end - start);
        start = end + 1;
        if (field.empty()) continue;
        if (first) {
            reply.word = std::string(field);
            first = false;
            continue;
        }
        const std::size_t equals = field.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string value(field.substr(equals + 1));
        reply.values[std::string(field.substr(0, equals))] = std::strtod(value.c_str(), nullptr);
    }
    return reply;
}

bool LineChannel::Send(std::string_view line) const {
    std::string text(line);
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

std::optional<std::string> LineChannel::TakeLine() {
    const std::size_t end = buffer_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return line;
}

bool LineChannel::ReadSome(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0) return false;
    char chunk[1024];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) closed_ = true;
    return false;
}

std::optional<std::string> LineChannel::ReadLine(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto line = TakeLine()) return line;
        if (closed_) return std::nullopt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        ReadSome(static_cast<int>(left));
    }
}

std::vector<std::string> LineChannel::ReadAvailable() {
    while (!closed_ && ReadSome(0)) {
    }
    std::vector<std::string> lines;
    while (auto line = TakeLine())
        lines.push_back(std::move(*line));
    return lines;
}

}  // namespace norva::bench
