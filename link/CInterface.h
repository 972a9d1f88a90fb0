// The engine's TCP transport: a client socket over IPv4 or IPv6, one per connect.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

#include "link/CSocketComm.h"
#include "link/Transport.h"

namespace qv {

class CInterface final : public CSocketComm, public Transport {
  public:
    // method: kMethodTcp (IPv4) or kMethodTcp6.
    explicit CInterface(int method = kMethodTcp) : method(method) {}
    ~CInterface() override;

    // Connects to host over the family of the method. Fails once Close was called, also
    // when that happens while the connect waits.
    bool Open(const char* host);

    int Method() const override { return method; }
    bool IsOpen() const override { return CSocketComm::IsOpen(); }
    bool PeerGone() const override { return PeerClosed(); }
    int WriteFrame(std::span<const std::uint8_t> frame) override;
    // Waits for data no longer than kReadWindow: a silent peer costs the engine one attempt
    // per read.
    int Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) override;
    void Close() override;

    // One read waits this long (41 polls 10 ms apart and the 50 ms pause after them, as one
    // wait), but it wakes the moment bytes arrive.
    static constexpr std::chrono::milliseconds kReadWindow{460};

    // 1 = TCP over IPv4, 3 = TCP over IPv6.
    const int method;

  private:
    std::atomic<bool> closed_{false};
    std::mutex writeLock_;
};

}  // namespace qv
