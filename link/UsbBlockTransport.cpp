#include "link/UsbBlockTransport.h"

#include <algorithm>
#include <vector>

#include "link/CUsbDeviceVista.h"
#include "link/CUsbDeviceXP.h"
#include "link/CommandSet.h"
#include "link/FrameCodec.h"

namespace qv {

std::size_t UsbBlockPayload(std::span<const std::uint8_t> block) {
    std::size_t end = 0;
    while (end < block.size() && block[end] == kFrameStart) {
        const auto mark =
            std::find(block.begin() + static_cast<std::ptrdiff_t>(end) + 1, block.end(), kFrameEnd);
        if (mark == block.end()) {
            return block.size();
        }
        end = static_cast<std::size_t>(mark - block.begin()) + 1;
    }
    return end == 0 ? block.size() : end;
}

UsbBlockTransport::UsbBlockTransport(UsbBackend& backend, Sleeper sleep, LinkClock* clock)
    : backend_(backend),
      sleep_(std::move(sleep)),
      clock_(clock != nullptr ? *clock : LinkClock::Steady()) {}

UsbBlockTransport::~UsbBlockTransport() {
    Close();
}

int UsbBlockTransport::Generation() const {
    std::shared_lock lock(deviceLock_);
    return xp_ ? 1 : vista_ ? 2 : 0;
}

bool UsbBlockTransport::IsOpen() const {
    std::shared_lock lock(deviceLock_);
    return !closed_.load() && ((xp_ && xp_->IsOpen()) || (vista_ && vista_->IsOpen()));
}

void UsbBlockTransport::Delay(std::chrono::milliseconds time) {
    if (sleep_) {
        sleep_(time);
        return;
    }
    std::unique_lock lock(waitLock_);
    closing_.wait_for(lock, time, [this] { return closed_.load(); });
}

bool UsbBlockTransport::Open() {
    // The two-pipe class, unless only an older instrument is there.
    std::vector<std::string> paths;
    unsigned error = 0;
    const bool newerPresent =
        !backend_.ListInterfaces(kUsbClassVista, paths, error) || !paths.empty();
    const bool olderPresent = backend_.ListInterfaces(kUsbClassXp, paths, error) && !paths.empty();
    const bool newer = newerPresent || !olderPresent;

    std::vector<std::uint8_t> handshake(kUsbBlockSize, 0);
    std::copy(kUsbHandshake.begin(), kUsbHandshake.end(), handshake.begin());
    if (newer) {
        auto device = std::make_unique<CUsbDeviceVista>(backend_);
        if (closed_.load() || !device->Open(0)) {
            return false;
        }
        {
            std::unique_lock lock(deviceLock_);
            vista_ = std::move(device);
        }
        std::size_t written = 0;
        backend_.Write(vista_->WritePipe(), handshake.data(), handshake.size(), written);
    } else {
        auto device = std::make_unique<CUsbDeviceXP>(backend_);
        if (closed_.load() || !device->Open(0)) {
            return false;
        }
        {
            std::unique_lock lock(deviceLock_);
            xp_ = std::move(device);
        }
        Delay(kXpHandshakeDelay);
        for (std::size_t at = 0; at < kUsbBlockSize && !closed_.load(); at += kUsbXpWriteSize) {
            std::size_t written = 0;
            backend_.Write(xp_->Handle(), handshake.data() + at, kUsbXpWriteSize, written);
        }
    }
    // A Close that came while opening closed nothing yet: close what opened now.
    if (closed_.load()) {
        Close();
        return false;
    }
    return true;
}

bool UsbBlockTransport::WriteBlock(const std::uint8_t* block) {
    std::lock_guard write(writeLock_);
    if (vista_) {
        std::size_t written = 0;
        return backend_.Write(vista_->WritePipe(), block, kUsbBlockSize, written) &&
               written == kUsbBlockSize;
    }
    if (xp_) {
        // The older class takes a block as 64 writes of 64 bytes, in order.
        for (std::size_t at = 0; at < kUsbBlockSize; at += kUsbXpWriteSize) {
            std::size_t written = 0;
            if (!backend_.Write(xp_->Handle(), block + at, kUsbXpWriteSize, written) ||
                written != kUsbXpWriteSize) {
                return false;
            }
        }
        return true;
    }
    return false;
}

int UsbBlockTransport::WriteFrame(std::span<const std::uint8_t> frame) {
    std::shared_lock lock(deviceLock_);
    if (closed_.load() || (!xp_ && !vista_) || frame.size() > kUsbBlockSize || frame.empty()) {
        return 0;
    }
    std::vector<std::uint8_t> block(kUsbBlockSize, 0);
    std::copy(frame.begin(), frame.end(), block.begin());
    return WriteBlock(block.data()) ? static_cast<int>(kUsbBlockSize) : -1;
}

int UsbBlockTransport::Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) {
    std::shared_lock lock(deviceLock_);
    const UsbHandle handle = vista_ ? vista_->ReadPipe() : xp_ ? xp_->Handle() : kInvalidUsbHandle;
    if (closed_.load() || handle == kInvalidUsbHandle || buffer.size() < kUsbBlockSize) {
        return -1;
    }
    const std::span<std::uint8_t> block = buffer.first(kUsbBlockSize);
    std::fill(block.begin(), block.end(), 0);
    std::fill_n(block.begin(), kFillBytes, kFillByte);

    // A block can come in pieces: a transfer that timed out part way goes on with the rest,
    // until it is whole, a short packet ends it, or the window passes. Every piece brings at
    // least one byte, so this ends.
    const auto deadline =
        clock_.Now() + std::clamp(maxWait, std::chrono::milliseconds(0), kUsbReadTimeout);
    std::size_t have = 0;
    while (have < kUsbBlockSize && !closed_.load()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_.Now());
        if (left.count() <= 0 && have > 0) {
            break;
        }
        std::size_t got = 0;
        const bool ended = backend_.Read(handle, block.data() + have, kUsbBlockSize - have, got,
                                         std::max(left, std::chrono::milliseconds(0)));
        have += std::min(got, kUsbBlockSize - have);
        if (ended || got == 0) {
            break;
        }
    }
    if (closed_.load()) {
        return -1;
    }
    return static_cast<int>(UsbBlockPayload(block));
}

void UsbBlockTransport::Close() {
    {
        std::lock_guard lock(waitLock_);
        closed_.store(true);
    }
    closing_.notify_all();
    // Closing the handles ends a read or write another thread is blocked in.
    std::shared_lock lock(deviceLock_);
    if (xp_) {
        xp_->Close();
    }
    if (vista_) {
        vista_->Close();
    }
}

}  // namespace qv
