// An instrument of the older device generation: the device itself is opened, exclusively,
// and one handle carries both directions.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/UsbBackend.h"

namespace qv {

class CUsbDeviceXP {
  public:
    explicit CUsbDeviceXP(UsbBackend& backend) : backend_(backend) {}
    virtual ~CUsbDeviceXP();
    CUsbDeviceXP(const CUsbDeviceXP&) = delete;
    CUsbDeviceXP& operator=(const CUsbDeviceXP&) = delete;

    virtual bool Open(int unused);
    virtual void Close();
    virtual bool IsOpen() const { return handle_.load() != kInvalidUsbHandle; }
    // Writes nothing: the engine writes the handle itself, in 64-byte pieces.
    virtual bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written);
    virtual bool Read(std::uint8_t* buffer, std::size_t length, std::size_t& got, int unused);

    UsbHandle Handle() const { return handle_.load(); }
    UsbBackend& Backend() const { return backend_; }

  private:
    UsbBackend& backend_;
    // Read by an exchange's thread while another thread (Close, Drop) may close it.
    std::atomic<UsbHandle> handle_{kInvalidUsbHandle};
};

}  // namespace qv
