#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/result.h"
#include "tools/acceptor-sim/console.h"
#include "tools/acceptor-sim/serial_line.h"

namespace norva::sim {

// A simulated Y-cable: two more pseudo-terminals, reached through symbolic links, one carrying
// a copy of every byte the host wrote to the device, the other of every byte the device sent,
// each copied the moment it passes. The device never waits for them: what a tap's reader does
// not take in time is dropped, counted and told. Bytes that pass while no program has a tap
// open are not kept for the next one, as on a cable with nothing plugged in.
class TapLinks {
public:
    static Result<std::unique_ptr<TapLinks>> Create(const std::string& hostLink,
                                                    const std::string& deviceLink);

    void FromHost(std::span<const std::uint8_t> bytes, const Console& console) {
        Copy(host_, bytes, console);
    }
    void FromDevice(std::span<const std::uint8_t> bytes, const Console& console) {
        Copy(device_, bytes, console);
    }
    // "tap links: ..." with both links and their pseudo-terminals.
    std::string Describe() const;
    // Tells the bytes dropped over the run, if any were.
    void Report(const Console& console) const;

private:
    struct Tap {
        std::string link;
        std::unique_ptr<SerialLine> pty;
        std::unique_ptr<SymbolicLink> made;
        std::uint64_t dropped = 0;
        std::uint64_t droppedLately = 0;  // since the reader last kept up
    };
    static Result<Tap> MakeTap(const std::string& link);
    static void Copy(Tap& tap, std::span<const std::uint8_t> bytes, const Console& console);

    Tap host_;
    Tap device_;
};

}  // namespace norva::sim
