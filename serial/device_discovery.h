#pragma once

#include <string>
#include <vector>

namespace norva {

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

}  // namespace norva
