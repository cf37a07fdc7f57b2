#pragma once

#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace norva {

// A device that went away, or is there but not yet usable, is looked at again this often.
inline constexpr int kDeviceRetryMs = 250;

// Where the device nodes and the kernel's device tree are; tests point them at folders of their
// own.
struct DeviceRoots {
    std::string dev = "/dev";
    std::string sys = "/sys";
};

// What sysfs says of the USB adapter behind a tty, where it is one.
struct UsbAdapter {
    std::string maker;
    std::string product;
    std::string serial;
};

// The serial devices present now: /dev/serial/by-id first (names that survive re-plugging), then
// ttyUSB, ttyACM, and the ttyS ports that have a real UART behind them, each kind in name order.
std::vector<std::string> PresentSerialDevices(const DeviceRoots& roots = {});

// The USB adapter behind a device path (a by-id link is followed); empty fields when unknown.
UsbAdapter UsbAdapterOf(const std::string& devicePath, const DeviceRoots& roots = {});

// The tooltip of a selector item: "Com2 → PATH, MAKER PRODUCT, serial SN, present".
std::string PortDescription(const std::string& label, const std::string& devicePath,
                            const DeviceRoots& roots = {});

// Wakes when something is made or changed in the folder of a device path, or in its nearest
// existing ancestor while that folder is gone too, so that waiting for a device to come back
// costs no wake-ups.
class FolderWatch {
public:
    explicit FolderWatch(const std::string& path);

    // Readable when something changed; -1 when inotify is not to be had, and the waiter must
    // then look now and then.
    int fd() const { return fd_.get(); }

    // Takes the pending events, and moves the watch when the nearest existing folder changed.
    void Rearm(const std::string& path);

private:
    UniqueFd fd_;
    int watch_ = -1;
    std::string folder_;
};

}  // namespace norva
