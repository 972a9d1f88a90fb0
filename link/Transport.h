// One open link to an instrument, chosen once at connect: the TCP stream (CInterface) or the
// USB block link (UsbBlockTransport). The engine frames, checks and joins; a transport only
// moves whole frames out and bytes in, and never looks inside them.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

namespace qv {

// Link methods, as stored in the settings.
inline constexpr int kMethodTcp = 1;
inline constexpr int kMethodUsb = 2;
inline constexpr int kMethodTcp6 = 3;

class Transport {
  public:
    virtual ~Transport() = default;

    // kMethodTcp, kMethodTcp6 or kMethodUsb.
    virtual int Method() const = 0;
    virtual bool IsOpen() const = 0;

    // Writes one whole encoded frame; frames from several threads never interleave. Returns
    // the bytes that went out (the frame, or the block that carries it), 0 when there is no
    // link, -1 when the write failed.
    virtual int WriteFrame(std::span<const std::uint8_t> frame) = 0;

    // One read, waiting no longer than maxWait nor than the transport's own read window.
    // Returns the bytes read (> 0), 0 when nothing came in time, -1 when the link failed, the
    // peer closed or Close was called.
    virtual int Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) = 0;

    // True when every read holds whole frames from its start (a frame never spans two reads),
    // so a read that ends inside a frame is a broken frame.
    virtual bool ReadsWholeFrames() const { return false; }

    // Safe from any thread: a read or write blocked in another thread returns at once, and
    // every later call fails.
    virtual void Close() = 0;

    // True when the peer has ended the link (a stream it closed or reset), seen without
    // reading, so the link is known lost between exchanges too. Any thread.
    virtual bool PeerGone() const { return false; }

  protected:
    Transport() = default;
    Transport(const Transport&) = default;
    Transport& operator=(const Transport&) = default;
};

}  // namespace qv
