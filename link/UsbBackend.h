// What the USB device classes need of the system: the present interfaces of a device class,
// and blocking transfers on their two bulk directions. The program hands the system's backend
// in (LinkPlatform); tests join the engine to the simulator through their own.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

using UsbHandle = int;
inline constexpr UsbHandle kInvalidUsbHandle = -1;

// Device-interface classes of the two device generations.
inline constexpr std::string_view kUsbClassXp = "{0DF82E02-6A7B-4A0C-BCAD-F2FC6A191D67}";
inline constexpr std::string_view kUsbClassVista = "{B3F1DCDB-95D5-49D5-98E1-57C0F89511F6}";

// Pipes under a device path, joined to it with one backslash.
inline constexpr std::string_view kUsbReadPipe = "PIPE01";
inline constexpr std::string_view kUsbWritePipe = "PIPE00";

inline constexpr std::size_t kUsbBlockSize = 4096;
inline constexpr std::size_t kUsbXpWriteSize = 64;

// The longest one block read waits, so a silent instrument never holds a thread for good.
inline constexpr std::chrono::milliseconds kUsbReadTimeout{3000};

// Why a listing or an open failed, as the device classes print it: the system's errno values.
inline constexpr unsigned kUsbErrorNoDevice = ENODEV;  // no interface of the class is present
inline constexpr unsigned kUsbErrorFileNotFound = ENOENT;
inline constexpr unsigned kUsbErrorAccessDenied = EACCES;
inline constexpr unsigned kUsbErrorSharingViolation = EBUSY;  // held open by another program
inline constexpr unsigned kUsbErrorDeviceGone = ENODEV;

enum class UsbShare { None, ReadWrite };

class UsbBackend {
  public:
    virtual ~UsbBackend() = default;

    // Device paths of the present interfaces of the class, first to last. False, with an
    // errno value in error, when the list cannot be made.
    virtual bool ListInterfaces(std::string_view classGuid, std::vector<std::string>& paths,
                                unsigned& error) = 0;
    // Opens a device path (both directions) or "<device path>\\PIPE01" / "\\PIPE00".
    // UsbShare::None fails while anything else holds the device open.
    virtual UsbHandle Open(const std::string& path, UsbShare share, unsigned& error) = 0;
    // One bulk IN transfer of up to length bytes. True when the transfer ended: length bytes
    // came, or a short packet ended it early. False when timeout passed, the handle was closed
    // from another thread or the device failed; got then says what came before, and a
    // transfer that timed out part way is not over: the rest follows on the next read.
    virtual bool Read(UsbHandle handle, std::uint8_t* buffer, std::size_t length, std::size_t& got,
                      std::chrono::milliseconds timeout) = 0;
    virtual bool Write(UsbHandle handle, const std::uint8_t* data, std::size_t length,
                       std::size_t& written) = 0;
    // Safe while another thread is inside Read or Write on the handle: that call returns
    // false. Handle numbers are never reused.
    virtual void Close(UsbHandle handle) = 0;

  protected:
    UsbBackend() = default;
    UsbBackend(const UsbBackend&) = default;
    UsbBackend& operator=(const UsbBackend&) = default;
};

}  // namespace qv
