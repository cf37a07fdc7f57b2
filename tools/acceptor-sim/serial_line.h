#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

namespace norva::sim {

// How long a pseudo-terminal's hang-up is waited out before the line is looked at again.
inline constexpr std::chrono::milliseconds kHangUpPause{200};
// How long a write waits for a full line to take more before the rest is given up.
inline constexpr std::chrono::milliseconds kLineStall{1000};

// The device's end of the line: the master of a pseudo-terminal made here, or a real serial
// device. The descriptor is non-blocking.
class SerialLine {
public:
    enum class Slave {
        // Held for the line's life: a host closing its end never hangs up the master, and
        // bytes sent while no host has it open wait for the next one.
        Held,
        // Closed once set up: the master then tells whether any program has the slave open.
        Released,
    };
    // The slave is opened here, made raw before anything is sent: nothing is echoed back.
    static Result<std::unique_ptr<SerialLine>> CreatePty(Slave slave = Slave::Held);
    static Result<std::unique_ptr<SerialLine>> OpenDevice(const std::string& path);

    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    int fd() const { return fd_; }
    bool isPty() const { return slaveFd_ >= 0; }
    // The slave's path for a pseudo-terminal, else the device's.
    const std::string& path() const { return path_; }

    // Whether another program has opened a held pseudo-terminal's slave since it was made;
    // nothing for a device, whose far end cannot be seen.
    std::optional<bool> HostOpened();
    // Whether a program has a released pseudo-terminal's slave open now.
    bool SlaveOpen() const;

private:
    SerialLine() = default;

    int fd_ = -1;
    int slaveFd_ = -1;
    bool pty_ = false;
    UniqueFd opens_;  // inotify on a held slave's node: opens by others
    bool hostOpened_ = false;
    std::string path_;
    bool restore_ = false;
    termios saved_{};
};

// Raw, no flow control, 9600 baud, even parity, 8 data bits, 1 stop bit.
void ConfigureDeviceLine(termios& settings);

struct Written {
    std::size_t bytes = 0;
    bool stopped = false;  // the stop descriptor turned readable while the line was full
};

// Writes bytes to a non-blocking line as fast as it takes them, handing each piece to passed
// the moment it went out. A full line is waited for at most kLineStall, and no longer than
// until stopFd (-1 for none) turns readable, so a stop signal is never held up by a host that
// does not read; the stop is left for the caller's loop to see.
Written WriteToLine(int fd, std::span<const std::uint8_t> bytes, int stopFd,
                    const std::function<void(std::span<const std::uint8_t>)>& passed);

// A symbolic link to a target, removed again when the object goes, unless someone has pointed
// it elsewhere in the meantime.
class SymbolicLink {
public:
    static Result<std::unique_ptr<SymbolicLink>> Create(const std::string& path,
                                                        const std::string& target);
    ~SymbolicLink();
    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;

private:
    SymbolicLink(std::string path, std::string target)
        : path_(std::move(path)), target_(std::move(target)) {}

    std::string path_;
    std::string target_;
    int slot_ = -1;
};

// The stop signals' first arrival goes on to the handler already installed for them (the stop
// descriptor); a second one removes the links still standing before it ends the process.
void RemoveLinksOnSecondSignal(std::initializer_list<int> which);

}  // namespace norva::sim
