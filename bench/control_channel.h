#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norva::bench {

// One line each way: the driver sends a command, the measured program answers with a word and
// named figures, "usage cpu_us=1234 rss_kb=40000".
struct Reply {
    std::string word;
    std::map<std::string, double> values;

    // The named figure, or NaN when the reply has none.
    double Get(const std::string& key) const;
};

Reply ParseReply(std::string_view line);

// Text lines over a socket.
class LineChannel {
public:
    explicit LineChannel(int fd = -1) : fd_(fd) {}

    int fd() const { return fd_; }
    bool Send(std::string_view line) const;
    // The next whole line, waiting at most timeoutMs; nothing on time-out or when the other end
    // has gone.
    std::optional<std::string> ReadLine(int timeoutMs);
    // Whole lines that have arrived, without waiting; closed() tells when the other end went.
    std::vector<std::string> ReadAvailable();
    bool closed() const { return closed_; }

private:
    std::optional<std::string> TakeLine();
    bool ReadSome(int timeoutMs);

    int fd_;
    std::string buffer_;
    bool closed_ = false;
};

}  // namespace norva::bench
