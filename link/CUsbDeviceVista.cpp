#include "link/CUsbDeviceVista.h"

#include <cstdio>
#include <vector>

namespace qv {

CUsbDeviceVista::~CUsbDeviceVista() {
    CUsbDeviceVista::Close();
}

UsbHandle CUsbDeviceVista::FindDevice() {
    std::vector<std::string> paths;
    unsigned error = 0;
    if (!backend_.ListInterfaces(kUsbClassVista, paths, error)) {
        lastError_ = error;
        return kInvalidUsbHandle;
    }
    lastError_ = kUsbErrorNoDevice;
    for (const std::string& path : paths) {
        completeName_ = path.substr(0, kCompleteNameSize - 1);
        std::printf("Attempting to open %s\n", completeName_.c_str());
        const UsbHandle handle = backend_.Open(completeName_, UsbShare::ReadWrite, error);
        if (handle != kInvalidUsbHandle) {
            return handle;
        }
        lastError_ = error;
        std::printf("FAILED to open %s\n", completeName_.c_str());
    }
    return kInvalidUsbHandle;
}

UsbHandle CUsbDeviceVista::OpenPipe(std::string_view pipe) {
    const UsbHandle device = FindDevice();
    if (device == kInvalidUsbHandle) {
        std::printf("Failed to GetUsbDeviceFileName err - %d\n", static_cast<int>(lastError_));
        return kInvalidUsbHandle;
    }
    // The device was opened only to prove its path.
    backend_.Close(device);
    if (completeName_.size() + 1 + pipe.size() >= kCompleteNameSize) {
        std::printf("Failed to open handle - possibly long filename\n");
        return kInvalidUsbHandle;
    }
    completeName_ += '\\';
    completeName_ += pipe;
    std::printf("completeDeviceName = (%s)\n", completeName_.c_str());
    unsigned error = 0;
    const UsbHandle handle = backend_.Open(completeName_, UsbShare::ReadWrite, error);
    if (handle != kInvalidUsbHandle) {
        std::printf("Opened successfully.\n");
    } else {
        std::printf("Failed to open (%s) = %d", completeName_.c_str(), static_cast<int>(error));
    }
    return handle;
}

bool CUsbDeviceVista::Open(int /*unused*/) {
    readPipe_.store(OpenPipe(kUsbReadPipe));
    writePipe_.store(OpenPipe(kUsbWritePipe));
    if (IsOpen()) {
        return true;
    }
    Close();
    return false;
}

void CUsbDeviceVista::Close() {
    for (auto* pipe : {&readPipe_, &writePipe_}) {
        const UsbHandle handle = pipe->exchange(kInvalidUsbHandle);
        if (handle != kInvalidUsbHandle) {
            backend_.Close(handle);
        }
    }
}

bool CUsbDeviceVista::Write(const std::uint8_t* data, std::size_t length, std::size_t& written) {
    written = 0;
    const UsbHandle handle = writePipe_.load();
    return handle != kInvalidUsbHandle && backend_.Write(handle, data, length, written);
}

bool CUsbDeviceVista::Read(std::uint8_t* buffer, std::size_t length, std::size_t& got,
                           int /*unused*/) {
    got = 0;
    const UsbHandle handle = readPipe_.load();
    return handle != kInvalidUsbHandle &&
           backend_.Read(handle, buffer, length, got, kUsbReadTimeout);
}

}  // namespace qv
