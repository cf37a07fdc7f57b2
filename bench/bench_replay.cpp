#include "bench_replay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "capture/capture_format.h"

namespace norva::bench {

namespace {

using Clock = std::chrono::steady_clock;

// A polling session as the bench records it: a poll every 1.5 s and its status answer.
std::string WriteCapture(long lines) {
    const std::string path = "/tmp/norva-bench-replay-" + std::to_string(::getpid()) + ".txt";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string chunk(kCaptureHeader);
    chunk += "\n# port COM1 /dev/ttyUSB0 9600,E,8,1\n";
    const std::uint8_t status[] = {0x3E};
    std::int64_t t = 1796786055LL * 1'000'000;
    for (long i = 0; i < lines; i += 2, t += 1'500'000) {
        AppendSentLine(chunk, t, 0x0C);
        AppendReceivedLine(chunk, t + 51'000, status);
        if (chunk.size() > (1 << 20)) {
            out << chunk;
            chunk.clear();
        }
    }
    out << chunk;
    return out ? path : std::string();
}

double PeakResidentMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return std::nan("");
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

ReplayFigures MeasureReplay(const std::string& simulator, long lines) {
    ReplayFigures figures{std::nan(""), std::nan(""), std::nan(""), std::nan("")};
    const std::string capture = WriteCapture(lines);
    if (capture.empty()) return figures;
    const std::string link = capture + ".link";
    std::ifstream sized(capture, std::ios::binary | std::ios::ate);
    figures.captureMegabytes = double(sized.tellg()) / 1e6;

    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(simulator.c_str(), simulator.c_str(), "--replay", capture.c_str(), "--link",
                link.c_str(), "--speed", "1000", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int host = -1;
    while (pid > 0 && Clock::now() - start < std::chrono::seconds(120)) {
        if (host < 0) {
            host = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (host >= 0) {
                termios t{};
                ::tcgetattr(host, &t);
                ::cfmakeraw(&t);
                ::tcsetattr(host, TCSANOW, &t);
            }
        }
        pollfd ready{host, POLLIN, 0};
        if (host >= 0 && ::poll(&ready, 1, 1) == 1) {
            figures.firstBlockMs = Ms(Clock::now() - start);
            figures.peakResidentMb = PeakResidentMb(pid);
            break;
        }
        if (host < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return figures;
    }
    // Playing: the host reads what comes.
    const auto playing = Clock::now();
    char buffer[4096];
    while (host >= 0 && Clock::now() - playing < std::chrono::seconds(3)) {
        pollfd ready{host, POLLIN, 0};
        if (::poll(&ready, 1, 10) == 1) (void)!::read(host, buffer, sizeof buffer);
    }
    if (pid > 0) {
        figures.playingResidentMb = PeakResidentMb(pid);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (host >= 0) ::close(host);
    ::unlink(link.c_str());
    ::unlink(capture.c_str());
    return figures;
}

}  // namespace norva::bench
