// An instrument of the newer device generation: two named pipes under the device, one read
// ("PIPE01") and one written ("PIPE00").
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/UsbBackend.h"

namespace qv {

class CUsbDeviceVista {
  public:
    // Room for the device path, the backslash and the pipe name, with its terminating zero.
    static constexpr std::size_t kCompleteNameSize = 256;

    explicit CUsbDeviceVista(UsbBackend& backend) : backend_(backend) {}
    virtual ~CUsbDeviceVista();
    CUsbDeviceVista(const CUsbDeviceVista&) = delete;
    CUsbDeviceVista& operator=(const CUsbDeviceVista&) = delete;

    virtual bool Open(int unused);
    virtual void Close();
    virtual bool IsOpen() const {
        return readPipe_.load() != kInvalidUsbHandle && writePipe_.load() != kInvalidUsbHandle;
    }
    virtual bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written);
    virtual bool Read(std::uint8_t* buffer, std::size_t length, std::size_t& got, int unused);

    UsbHandle ReadPipe() const { return readPipe_.load(); }
    UsbHandle WritePipe() const { return writePipe_.load(); }
    UsbBackend& Backend() const { return backend_; }
    const std::string& CompleteDeviceName() const { return completeName_; }

  private:
    UsbHandle FindDevice();
    UsbHandle OpenPipe(std::string_view pipe);

    UsbBackend& backend_;
    std::atomic<UsbHandle> readPipe_{kInvalidUsbHandle};
    std::atomic<UsbHandle> writePipe_{kInvalidUsbHandle};
    std::string completeName_;  // never longer than kCompleteNameSize - 1
    unsigned lastError_ = 0;
};

}  // namespace qv
