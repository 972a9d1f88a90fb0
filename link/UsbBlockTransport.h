// The USB transport: every transfer is one 4,096-byte block. An outgoing block holds one frame
// at its start and zeros after it; an incoming block holds whole frames from its start and
// padding after the last one. The device class, its handshake block and the older class's
// 64-byte writes live here; the engine sees frames in and bytes out, as over TCP.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "link/LinkClock.h"
#include "link/Transport.h"
#include "link/UsbBackend.h"

namespace qv {

class CUsbDeviceXP;
class CUsbDeviceVista;

class UsbBlockTransport final : public Transport {
  public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    // sleep replaces the handshake delay of the older class (tests); without it the delay is
    // a wait that Close ends. clock times a block's read window: the engine's, so a virtual
    // clock that the backend advances bounds it too (steady clock when null).
    explicit UsbBlockTransport(UsbBackend& backend, Sleeper sleep = {}, LinkClock* clock = nullptr);
    ~UsbBlockTransport() override;
    UsbBlockTransport(const UsbBlockTransport&) = delete;
    UsbBlockTransport& operator=(const UsbBlockTransport&) = delete;

    // Opens a device and writes the handshake block: the two-pipe class, or the older class
    // when only an older device is present. False when nothing opened or Close came first.
    bool Open();
    // Which class Open chose: 1 older (one handle), 2 newer (two pipes), 0 none.
    int Generation() const;

    int Method() const override { return kMethodUsb; }
    bool IsOpen() const override;
    // One block with the frame at its start: 4,096 when all of it went out, -1 when not,
    // 0 with no device or a frame that does not fit a block.
    int WriteFrame(std::span<const std::uint8_t> frame) override;
    // One block (buffer holds at least kUsbBlockSize), gathered until it is whole, a short
    // packet ends it, or the read window passes. What did not arrive keeps the fill pattern,
    // which no frame starts with. Returns the bytes up to the end of the block's last whole
    // frame (the padding is left out), or the whole block when it does not start with frames;
    // -1 when closed.
    int Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) override;
    bool ReadsWholeFrames() const override { return true; }
    void Close() override;

    // The fill pattern a block holds before it is read: 35 bytes "4" and a zero.
    static constexpr std::size_t kFillBytes = 35;
    static constexpr std::uint8_t kFillByte = 0x34;
    static constexpr std::chrono::milliseconds kXpHandshakeDelay{2000};

  private:
    bool WriteBlock(const std::uint8_t* block);
    void Delay(std::chrono::milliseconds time);

    UsbBackend& backend_;
    Sleeper sleep_;
    LinkClock& clock_;
    std::atomic<bool> closed_{false};
    // The device pointers are set once by Open; Close only closes their handles.
    mutable std::shared_mutex deviceLock_;
    std::unique_ptr<CUsbDeviceXP> xp_;
    std::unique_ptr<CUsbDeviceVista> vista_;
    std::mutex writeLock_;
    std::mutex waitLock_;
    std::condition_variable closing_;
};

// Bytes of block that are whole frames from its start, the padding after them left out; the
// whole block when it does not start with a frame or a frame in it has no end marker.
std::size_t UsbBlockPayload(std::span<const std::uint8_t> block);

}  // namespace qv
