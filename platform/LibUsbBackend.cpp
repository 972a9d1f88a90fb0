#include "platform/LibUsbBackend.h"

#include <libudev.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <climits>
#include <optional>

#include "platform/BulkTransfer.h"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

// Short transfer slices, so a close from another thread is seen quickly.
constexpr unsigned kSliceMs = 200;

struct ParsedPath {
    std::string device;  // "usb:<bus>:<ports>"
    int bus = 0;
    std::vector<std::uint8_t> ports;
    enum class Pipe { Both, Read, Write } pipe = Pipe::Both;
};

std::optional<ParsedPath> ParsePath(const std::string& path) {
    ParsedPath parsed;
    std::string device = path;
    if (const auto slash = path.find('\\'); slash != std::string::npos) {
        const std::string_view pipe = std::string_view(path).substr(slash + 1);
        if (pipe == kUsbReadPipe) {
            parsed.pipe = ParsedPath::Pipe::Read;
        } else if (pipe == kUsbWritePipe) {
            parsed.pipe = ParsedPath::Pipe::Write;
        } else {
            return std::nullopt;
        }
        device = path.substr(0, slash);
    }
    constexpr std::string_view prefix = "usb:";
    if (device.rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    const std::string_view rest = std::string_view(device).substr(prefix.size());
    const auto colon = rest.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + colon, parsed.bus);
    if (ec != std::errc() || end != rest.data() + colon) {
        return std::nullopt;
    }
    std::string_view ports = rest.substr(colon + 1);
    while (!ports.empty()) {
        const auto dot = ports.find('.');
        const std::string_view part = ports.substr(0, dot);
        int port = 0;
        const auto [pend, pec] = std::from_chars(part.data(), part.data() + part.size(), port);
        if (pec != std::errc() || pend != part.data() + part.size() || port <= 0 || port > 255) {
            return std::nullopt;
        }
        parsed.ports.push_back(static_cast<std::uint8_t>(port));
        ports = dot == std::string_view::npos ? std::string_view{} : ports.substr(dot + 1);
    }
    if (parsed.ports.empty() || parsed.ports.size() > 7) {
        return std::nullopt;
    }
    parsed.device = device;
    return parsed;
}

unsigned ErrorCode(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_ACCESS:
            return kUsbErrorAccessDenied;
        case LIBUSB_ERROR_BUSY:
            return kUsbErrorSharingViolation;
        case LIBUSB_ERROR_NO_DEVICE:
            return kUsbErrorDeviceGone;
        default:
            return kUsbErrorFileNotFound;
    }
}

}  // namespace

struct LibUsbBackend::Device {
    libusb_device_handle* handle = nullptr;
    int interface = -1;
    std::uint8_t in = 0;
    std::uint8_t out = 0;
    bool exclusive = false;

    ~Device() {
        if (handle != nullptr) {
            libusb_release_interface(handle, interface);
            libusb_close(handle);
        }
    }
};

struct LibUsbBackend::Handle {
    std::shared_ptr<Device> device;
    bool canRead = false;
    bool canWrite = false;
    std::atomic<bool> closing{false};
    int active = 0;  // transfers in progress, under the backend lock
};

LibUsbBackend::LibUsbBackend() = default;

LibUsbBackend::~LibUsbBackend() {
    {
        std::unique_lock lock(lock_);
        for (auto& [number, handle] : handles_) {
            handle->closing.store(true);
        }
        idle_.wait(lock, [this] {
            return std::all_of(handles_.begin(), handles_.end(),
                               [](const auto& entry) { return entry.second->active == 0; });
        });
        handles_.clear();
    }
    if (context_ != nullptr) {
        libusb_exit(context_);
    }
}

bool LibUsbBackend::EnsureContext(unsigned& error) {
    std::lock_guard lock(lock_);
    if (context_ == nullptr && libusb_init(&context_) != 0) {
        context_ = nullptr;
        error = kUsbErrorFileNotFound;
        return false;
    }
    return true;
}

bool LibUsbBackend::ListInterfaces(std::string_view classGuid, std::vector<std::string>& paths,
                                   unsigned& error) {
    paths.clear();
    udev* u = udev_new();
    if (u == nullptr) {
        error = kUsbErrorFileNotFound;
        return false;
    }
    udev_enumerate* e = udev_enumerate_new(u);
    const std::string guid(classGuid);
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
    udev_enumerate_add_match_property(e, kUdevClassProperty, guid.c_str());
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(e); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        if (d == nullptr) {
            continue;
        }
        const char* bus = udev_device_get_sysattr_value(d, "busnum");
        const char* ports = udev_device_get_sysattr_value(d, "devpath");
        if (bus != nullptr && ports != nullptr) {
            paths.push_back("usb:" + std::string(bus) + ":" + ports);
        }
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
    std::sort(paths.begin(), paths.end());
    return true;
}

UsbHandle LibUsbBackend::Open(const std::string& path, UsbShare share, unsigned& error) {
    const auto parsed = ParsePath(path);
    if (!parsed) {
        error = kUsbErrorFileNotFound;
        return kInvalidUsbHandle;
    }
    if (!EnsureContext(error)) {
        return kInvalidUsbHandle;
    }
    std::lock_guard lock(lock_);
    std::shared_ptr<Device> device = devices_[parsed->device].lock();
    if (device && (device->exclusive || share == UsbShare::None)) {
        error = kUsbErrorSharingViolation;
        return kInvalidUsbHandle;
    }
    if (!device) {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context_, &list);
        libusb_device* found = nullptr;
        for (ssize_t i = 0; i < n; ++i) {
            std::array<std::uint8_t, 7> ports{};
            const int depth = libusb_get_port_numbers(list[i], ports.data(), ports.size());
            if (libusb_get_bus_number(list[i]) == parsed->bus && depth > 0 &&
                std::equal(ports.begin(), ports.begin() + depth, parsed->ports.begin(),
                           parsed->ports.end())) {
                found = libusb_ref_device(list[i]);
                break;
            }
        }
        if (list != nullptr) {
            libusb_free_device_list(list, 1);
        }
        if (found == nullptr) {
            error = kUsbErrorFileNotFound;
            return kInvalidUsbHandle;
        }
        auto fresh = std::make_shared<Device>();
        libusb_config_descriptor* config = nullptr;
        int rc = libusb_get_active_config_descriptor(found, &config);
        if (rc == 0) {
            // The vendor interface with one bulk endpoint each way carries the blocks.
            for (int i = 0; i < config->bNumInterfaces && fresh->interface < 0; ++i) {
                const libusb_interface& itf = config->interface[i];
                for (int a = 0; a < itf.num_altsetting && fresh->interface < 0; ++a) {
                    const libusb_interface_descriptor& alt = itf.altsetting[a];
                    if (alt.bInterfaceClass != LIBUSB_CLASS_VENDOR_SPEC) {
                        continue;
                    }
                    std::uint8_t in = 0;
                    std::uint8_t out = 0;
                    for (int k = 0; k < alt.bNumEndpoints; ++k) {
                        const libusb_endpoint_descriptor& ep = alt.endpoint[k];
                        if ((ep.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) {
                            continue;
                        }
                        std::uint8_t& slot =
                            (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0 ? in : out;
                        if (slot == 0) {
                            slot = ep.bEndpointAddress;
                        }
                    }
                    if (in != 0 && out != 0) {
                        fresh->interface = alt.bInterfaceNumber;
                        fresh->in = in;
                        fresh->out = out;
                    }
                }
            }
            libusb_free_config_descriptor(config);
        }
        if (fresh->interface < 0) {
            libusb_unref_device(found);
            error = kUsbErrorFileNotFound;
            return kInvalidUsbHandle;
        }
        rc = libusb_open(found, &fresh->handle);
        libusb_unref_device(found);
        if (rc != 0) {
            fresh->handle = nullptr;
            error = ErrorCode(rc);
            return kInvalidUsbHandle;
        }
        libusb_set_auto_detach_kernel_driver(fresh->handle, 1);
        rc = libusb_claim_interface(fresh->handle, fresh->interface);
        if (rc != 0) {
            libusb_close(fresh->handle);
            fresh->handle = nullptr;
            error = ErrorCode(rc);
            return kInvalidUsbHandle;
        }
        fresh->exclusive = share == UsbShare::None;
        device = fresh;
        devices_[parsed->device] = device;
    }
    auto handle = std::make_shared<Handle>();
    handle->device = device;
    handle->canRead = parsed->pipe != ParsedPath::Pipe::Write;
    handle->canWrite = parsed->pipe != ParsedPath::Pipe::Read;
    const UsbHandle number = next_;
    next_ = next_ == INT_MAX ? 1 : next_ + 1;
    handles_[number] = std::move(handle);
    return number;
}

std::shared_ptr<LibUsbBackend::Handle> LibUsbBackend::Acquire(UsbHandle number) {
    std::lock_guard lock(lock_);
    const auto it = handles_.find(number);
    if (it == handles_.end() || it->second->closing.load()) {
        return nullptr;
    }
    ++it->second->active;
    return it->second;
}

void LibUsbBackend::Release(const std::shared_ptr<Handle>& handle) {
    {
        std::lock_guard lock(lock_);
        --handle->active;
    }
    idle_.notify_all();
}

bool LibUsbBackend::Transfer(UsbHandle number, bool in, std::uint8_t* data, std::size_t length,
                             std::size_t& done, std::chrono::milliseconds timeout) {
    done = 0;
    const auto handle = Acquire(number);
    if (!handle) {
        return false;
    }
    bool ok = false;
    if (in ? handle->canRead : handle->canWrite) {
        const Device& device = *handle->device;
        const BulkSlice slice = [&](std::uint8_t* at, std::size_t size, std::size_t& moved) {
            int transferred = 0;
            const int rc = libusb_bulk_transfer(
                device.handle, in ? device.in : device.out, at,
                static_cast<int>(std::min<std::size_t>(size, INT_MAX)), &transferred, kSliceMs);
            moved = static_cast<std::size_t>(std::max(transferred, 0));
            return rc == 0                      ? SliceResult::Done
                   : rc == LIBUSB_ERROR_TIMEOUT ? SliceResult::TimedOut
                                                : SliceResult::Failed;
        };
        ok = RunBulkTransfer(slice, data, length, done, Clock::now() + timeout, handle->closing);
    }
    Release(handle);
    return ok;
}

bool LibUsbBackend::Read(UsbHandle handle, std::uint8_t* buffer, std::size_t length,
                         std::size_t& got, std::chrono::milliseconds timeout) {
    return Transfer(handle, true, buffer, length, got, timeout);
}

bool LibUsbBackend::Write(UsbHandle handle, const std::uint8_t* data, std::size_t length,
                          std::size_t& written) {
    // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
    return Transfer(handle, false, const_cast<std::uint8_t*>(data), length, written,
                    kUsbReadTimeout);
}

void LibUsbBackend::Close(UsbHandle number) {
    std::shared_ptr<Handle> handle;
    {
        std::unique_lock lock(lock_);
        const auto it = handles_.find(number);
        if (it == handles_.end()) {
            return;
        }
        handle = it->second;
        handle->closing.store(true);
        idle_.wait(lock, [&] { return handle->active == 0; });
        handles_.erase(it);
    }
    // The device is released with its last handle.
}

}  // namespace qv
