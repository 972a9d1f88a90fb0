#include "link/CUsbDeviceXP.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qv {

CUsbDeviceXP::~CUsbDeviceXP() {
    CUsbDeviceXP::Close();
}

bool CUsbDeviceXP::Open(int /*unused*/) {
    std::vector<std::string> paths;
    unsigned error = 0;
    if (!backend_.ListInterfaces(kUsbClassXp, paths, error)) {
        std::printf("SetupDiGetClassDevs failed with error 0x%x\n", error);
        return false;
    }
    if (paths.empty()) {
        std::printf("SetupDiGetDeviceInterfaceDetail failed with error 0x%x\n", 0U);
        return false;
    }
    for (const std::string& path : paths) {
        std::printf("Device found! %s\n", path.c_str());
        std::printf("Device path %s\n", path.c_str());
        // No sharing: a device another program holds is skipped for the next one.
        const UsbHandle handle = backend_.Open(path, UsbShare::None, error);
        if (handle != kInvalidUsbHandle) {
            handle_.store(handle);
            return true;
        }
        std::printf("CreateFile failed with error 0x%x\n", error);
    }
    std::printf("Unable to find or open any DavEriduv!\n");
    return false;
}

void CUsbDeviceXP::Close() {
    const UsbHandle handle = handle_.exchange(kInvalidUsbHandle);
    if (handle != kInvalidUsbHandle) {
        backend_.Close(handle);
    }
}

bool CUsbDeviceXP::Write(const std::uint8_t* /*data*/, std::size_t /*length*/,
                         std::size_t& written) {
    written = 0;
    return IsOpen();
}

bool CUsbDeviceXP::Read(std::uint8_t* buffer, std::size_t length, std::size_t& got,
                        int /*unused*/) {
    got = 0;
    const UsbHandle handle = handle_.load();
    return handle != kInvalidUsbHandle &&
           backend_.Read(handle, buffer, length, got, kUsbReadTimeout);
}

}  // namespace qv
