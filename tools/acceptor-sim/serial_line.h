#pragma once

#include <termios.h>

#include <memory>
#include <string>

#include "base/result.h"

namespace norva::sim {

// What an opening made, or why it made nothing (the text and the OS error behind it).
template <typename T>
struct Made {
    std::unique_ptr<T> value;
    Outcome outcome;
};

// The device's end of the line: the master of a pseudo-terminal made here, or a real serial
// device. The descriptor is non-blocking.
class SerialLine {
public:
    // The slave is opened here once, made raw before anything is sent, and held for the line's
    // life: nothing is echoed back, and a host closing its end never hangs up the master.
    static Made<SerialLine> CreatePty();
    static Made<SerialLine> OpenDevice(const std::string& path);

    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    int fd() const { return fd_; }
    bool isPty() const { return slaveFd_ >= 0; }
    // The slave's path for a pseudo-terminal, else the device's.
    const std::string& path() const { return path_; }

private:
    SerialLine() = default;

    int fd_ = -1;
    int slaveFd_ = -1;
    std::string path_;
    bool restore_ = false;
    termios saved_{};
};

// Raw, no flow control, 9600 baud, even parity, 8 data bits, 1 stop bit.
void ConfigureDeviceLine(termios& settings);

// A symbolic link to a target, removed again when the object goes, unless someone has pointed
// it elsewhere in the meantime.
class SymbolicLink {
public:
    static Made<SymbolicLink> Create(const std::string& path, const std::string& target);
    ~SymbolicLink();
    SymbolicLink(const SymbolicLink&) = delete;
    SymbolicLink& operator=(const SymbolicLink&) = delete;

private:
    SymbolicLink(std::string path, std::string target)
        : path_(std::move(path)), target_(std::move(target)) {}

    std::string path_;
    std::string target_;
};

}  // namespace norva::sim
