#include "platform/UsbDeviceList.h"

#include <libudev.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "platform/LibUsbBackend.h"

namespace qv {

namespace {

std::string Attr(udev_device* d, const char* name) {
    const char* value = udev_device_get_sysattr_value(d, name);
    return value != nullptr ? std::string(value) : std::string();
}

template <typename T>
bool ParseNumber(const std::string& text, int base, T& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::string ReadSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

// Endpoints are sysfs folders ep_XX beside the interface's attributes, each with its
// transfer type and direction.
bool HasBulkPair(const char* interfaceSyspath) {
    bool in = false;
    bool out = false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(interfaceSyspath, ec)) {
        if (entry.path().filename().string().rfind("ep_", 0) != 0 ||
            ReadSmallFile(entry.path() / "type") != "Bulk") {
            continue;
        }
        const std::string direction = ReadSmallFile(entry.path() / "direction");
        in = in || direction == "in";
        out = out || direction == "out";
    }
    return in && out;
}

bool HasVendorBulkInterface(udev* u, udev_device* device) {
    udev_enumerate* e = udev_enumerate_new(u);
    if (e == nullptr) {
        return false;
    }
    udev_enumerate_add_match_parent(e, device);
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_interface");
    udev_enumerate_scan_devices(e);
    bool found = false;
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(e); entry != nullptr && !found;
         entry = udev_list_entry_get_next(entry)) {
        udev_device* itf = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        if (itf == nullptr) {
            continue;
        }
        found = Attr(itf, "bInterfaceClass") == "ff" && HasBulkPair(udev_device_get_syspath(itf));
        udev_device_unref(itf);
    }
    udev_enumerate_unref(e);
    return found;
}

}  // namespace

bool ListUsbDevices(std::vector<UsbDeviceInfo>& devices) {
    devices.clear();
    udev* u = udev_new();
    if (u == nullptr) {
        return false;
    }
    udev_enumerate* e = udev_enumerate_new(u);
    if (e == nullptr) {
        udev_unref(u);
        return false;
    }
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(e); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        if (d == nullptr) {
            continue;
        }
        UsbDeviceInfo info;
        const bool ok = ParseNumber(Attr(d, "idVendor"), 16, info.vendor) &&
                        ParseNumber(Attr(d, "idProduct"), 16, info.product) &&
                        ParseNumber(Attr(d, "busnum"), 10, info.bus) &&
                        ParseNumber(Attr(d, "devnum"), 10, info.address);
        // Root hubs have no port path; the backend cannot open them either.
        info.portPath = Attr(d, "devpath");
        if (ok && !info.portPath.empty() && info.portPath != "0") {
            if (const char* node = udev_device_get_devnode(d); node != nullptr) {
                info.node = node;
            }
            const std::string maker = Attr(d, "manufacturer");
            const std::string product = Attr(d, "product");
            info.name = maker;
            if (!maker.empty() && !product.empty()) {
                info.name += ' ';
            }
            info.name += product;
            if (const char* cls = udev_device_get_property_value(d, kUdevClassProperty)) {
                info.interfaceClass = cls;
            }
            info.bulkPair = HasVendorBulkInterface(u, d);
            devices.push_back(std::move(info));
        }
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
    });
    return true;
}

std::string UsbDevicePath(const UsbDeviceInfo& device) {
    return "usb:" + std::to_string(device.bus) + ":" + device.portPath;
}

}  // namespace qv
