// The USB devices present, as udev describes them: enough to tell a person why the program
// can or cannot use one (qvctl usb). The backend finds instruments by class alone; this list
// also shows the devices no rule has given a class yet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct UsbDeviceInfo {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    int bus = 0;                 // busnum
    int address = 0;             // devnum, as lsusb shows it
    std::string portPath;        // devpath, e.g. "2.4"
    std::string node;            // e.g. /dev/bus/usb/001/004
    std::string name;            // manufacturer and product strings, when the device has them
    std::string interfaceClass;  // QVREMOTE_INTERFACE_CLASS; empty when no rule gave one
    bool bulkPair = false;       // a vendor-specific interface with bulk IN and OUT endpoints
};

// Every USB device udev knows, in bus and address order. False when udev cannot be asked.
bool ListUsbDevices(std::vector<UsbDeviceInfo>& devices);

// The device path the system USB backend opens: "usb:<bus>:<port path>".
std::string UsbDevicePath(const UsbDeviceInfo& device);

}  // namespace qv
