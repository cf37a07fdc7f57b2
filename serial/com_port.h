#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/result.h"

namespace norva {

struct OpenedPort;

// The one serial port: not open, failed (the last open did not succeed) or open. A descriptor
// can legitimately be 0 when standard input is closed, so the state is kept apart from it.
class PortHandle {
public:
    enum class State { NotOpen, Failed, Open };
    // A tap's input is only ever listened to: opened for reading alone, so not even a stray
    // write can reach the line it hears.
    enum class Access { ReadWrite, ReadOnly };

    explicit PortHandle(Access access = Access::ReadWrite) : access_(access) {}
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    ~PortHandle();

    State state() const;
    bool IsOpen() const { return state() == State::Open; }
    // The descriptor while open, else -1. Only the receive thread polls it, and the port is
    // closed only after that thread has been joined.
    int fd() const;
    // The device and line settings of the last successful open, kept for a reopen.
    std::string devicePath() const;
    std::string modeString() const;
    Access access() const { return access_; }
    // Whether the device may come back under the same path once it went away: a USB adapter or
    // a link made anew may, a pseudo-terminal's own node never does (its number goes to whoever
    // opens the next one, another program's terminal perhaps), so that one is not waited for.
    bool mayComeBack() const;

private:
    friend Result<OpenedPort> OpenPort(PortHandle*, const std::string&, const std::string&);
    friend Result<OpenedPort> OpenDevice(PortHandle*, const std::string&, const std::string&);
    friend bool SendByte(PortHandle*, std::uint8_t);
    friend void CloseComPort(PortHandle*);
    friend void ReleaseComPort(PortHandle*);

    mutable std::mutex mutex_;  // guards the fields and makes each write one whole byte
    const Access access_;
    State state_ = State::NotOpen;
    int fd_ = -1;
    termios saved_{};
    std::string devicePath_;
    std::string modeString_;
    bool mayComeBack_ = true;
    std::vector<std::string> lockFiles_;
};

// OpenComPort's results, as the port selection knows them.
inline constexpr int kOpenFailed = 0;
inline constexpr int kOpened = 1;
inline constexpr int kAlreadyOpen = 2;

// A port opened, or found open already. A failure's text says why, naming the path.
struct OpenedPort {
    std::string devicePath;
    // What the operator should know although the open counts as done, empty when nothing: line
    // settings the driver refused (the line keeps its own, as it does for a mode string that
    // does not parse), a lock name that holds something other than a lock file, ports.conf lines
    // ignored for a port that fell back to its default.
    std::string warning;
    bool wasOpen = false;  // nothing was done
};

// Opens the device that portName ("COM1".."COM10") maps to, exclusively, raw, without flow
// control, and applies the mode string over the current line settings. A mode string that does
// not parse leaves those settings as they were. Returns kOpenFailed, kOpened or kAlreadyOpen.
int OpenComPort(PortHandle* handle, const std::string& portName, const std::string& modeString);
Result<OpenedPort> OpenPort(PortHandle* handle, const std::string& portName,
                            const std::string& modeString);

// The same for a device path. Exclusive in fact: the device must not be held by another process
// (UUCP lock files under each of its names, flock, the exclusive-mode flag, and a look at who
// else has it open); while open the handle holds all of these, and closing gives them up.
Result<OpenedPort> OpenDevice(PortHandle* handle, const std::string& devicePath,
                              const std::string& modeString);

// Writes exactly one byte; false when it did not go out, and always on a read-only handle.
// Safe from any thread.
bool SendByte(PortHandle* handle, std::uint8_t byte);

// Restores the saved line settings and closes the descriptor. The handle then reads "not open",
// so no later call can touch a descriptor number that has been reused meanwhile.
void CloseComPort(PortHandle* handle);

// What a port selection does to the old port: close it, whatever its state, and mark it not open.
void ReleaseComPort(PortHandle* handle);

// Bytes waiting in the driver's input queue; 0 when the port is not open or the query fails.
int InputQueueCount(PortHandle* handle);

// Reads up to maxBytes. Returns when maxBytes have arrived or when the line has been quiet for
// more than kQuietMs (from the start of the call or from the last byte). A hang-up, an error or
// end of file ends the read with what has arrived so far.
inline constexpr int kQuietMs = 50;
std::size_t ReadBlock(PortHandle* handle, std::uint8_t* buffer, std::size_t maxBytes);

// The same, also ending as soon as stopEvent (when not -1) turns readable, with what has arrived
// so far. Reports when the first and the last byte came (microseconds since the Unix epoch) and
// whether the line hung up or failed during the read.
struct BlockRead {
    std::size_t count = 0;
    std::int64_t firstByteUnixMicros = 0;
    std::int64_t lastByteUnixMicros = 0;
    bool lineLost = false;
};
BlockRead ReadBlockUntilStop(PortHandle* handle, std::uint8_t* buffer, std::size_t maxBytes,
                             int stopEvent);

// The process-wide port.
extern PortHandle ComHandle;

}  // namespace norva
