#include "link/CInterface.h"

#include <algorithm>

namespace qv {

CInterface::~CInterface() = default;

bool CInterface::Open(const char* host) {
    if (closed_.load()) {
        return false;
    }
    return Connect(host, method == kMethodTcp6 ? AF_INET6 : AF_INET);
}

int CInterface::WriteFrame(std::span<const std::uint8_t> frame) {
    std::lock_guard lock(writeLock_);
    return WriteComm(frame.data(), static_cast<int>(frame.size()));
}

int CInterface::Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) {
    if (closed_.load() || !CSocketComm::IsOpen()) {
        return -1;
    }
    const auto wait = std::clamp(maxWait, std::chrono::milliseconds(0), kReadWindow);
    if (!WaitReadable(wait)) {
        return closed_.load() ? -1 : 0;
    }
    // Readable: data, the end of the stream or an error; ReadComm tells which.
    const int got = ReadComm(buffer.data(), static_cast<int>(buffer.size()), 0);
    if (got == 0 && closed_.load()) {
        return -1;
    }
    return got;
}

void CInterface::Close() {
    closed_.store(true);
    StopComm();
}

}  // namespace qv
