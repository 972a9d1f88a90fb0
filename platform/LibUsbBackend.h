// The system USB backend on Linux, on libusb. A device belongs to an interface class when
// udev gave it the class's GUID in the property QVREMOTE_INTERFACE_CLASS (the rule in
// resources/linux/60-qvremote.rules); its vendor interface is claimed and the pipes map onto
// that interface's bulk IN ("PIPE01") and bulk OUT ("PIPE00") endpoints.
// Device paths read "usb:<bus>:<port path>", e.g. "usb:1:2.4". The application creates one and
// hands it to the link (LinkPlatform).
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "link/UsbBackend.h"

struct libusb_context;

namespace qv {

inline constexpr const char* kUdevClassProperty = "QVREMOTE_INTERFACE_CLASS";

class LibUsbBackend : public UsbBackend {
  public:
    LibUsbBackend();
    ~LibUsbBackend() override;
    LibUsbBackend(const LibUsbBackend&) = delete;
    LibUsbBackend& operator=(const LibUsbBackend&) = delete;

    bool ListInterfaces(std::string_view classGuid, std::vector<std::string>& paths,
                        unsigned& error) override;
    UsbHandle Open(const std::string& path, UsbShare share, unsigned& error) override;
    // Gathers the transfer until it is whole or a short packet ends it, within timeout.
    bool Read(UsbHandle handle, std::uint8_t* buffer, std::size_t length, std::size_t& got,
              std::chrono::milliseconds timeout) override;
    bool Write(UsbHandle handle, const std::uint8_t* data, std::size_t length,
               std::size_t& written) override;
    void Close(UsbHandle handle) override;

  private:
    struct Device;
    struct Handle;

    bool EnsureContext(unsigned& error);
    std::shared_ptr<Handle> Acquire(UsbHandle handle);
    void Release(const std::shared_ptr<Handle>& handle);
    bool Transfer(UsbHandle handle, bool in, std::uint8_t* data, std::size_t length,
                  std::size_t& done, std::chrono::milliseconds timeout);

    libusb_context* context_ = nullptr;
    std::mutex lock_;
    std::condition_variable idle_;
    std::map<UsbHandle, std::shared_ptr<Handle>> handles_;
    std::map<std::string, std::weak_ptr<Device>> devices_;
    UsbHandle next_ = 1;
};

}  // namespace qv
