// A simulated instrument on loopback and an engine connected to it, screen bytes and answer
// frames, for the engine, USB, session and qvctl tests.
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "link/FrameCodec.h"
#include "sim/SimServer.h"

namespace qv::test {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Plenty of frame markers among them, so escaping is exercised.
inline Bytes RandomBytes(std::size_t n, unsigned seed = 7) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) {
        const unsigned r = rng() % 8;
        b = static_cast<std::uint8_t>(r < 3 ? 0x7D + r : rng());
    }
    return out;
}

// Screen answer frames of count, encoded back to back: (index, payload) each.
inline Bytes Frames(std::uint8_t count,
                    std::initializer_list<std::pair<int, std::string_view>> parts) {
    Bytes all, f(kMaxEncodedFrame);
    for (const auto& [index, text] : parts) {
        const FrameHeader h{0x41, REQ_SCREEN, count, static_cast<std::uint8_t>(index)};
        const std::size_t n = EncodeFrame(h, Bytes(text.begin(), text.end()), f);
        all.insert(all.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return all;
}

struct Loopback {
    std::string address;
    bool ipv6 = false;
};
inline const Loopback kLoopV4{"127.0.0.1", false};
inline const Loopback kLoopV6{"::1", true};

// started() is false when the loopback family is missing on this machine.
class SimPeer {
  public:
    explicit SimPeer(const Loopback& loop) : loop_(loop), started_(server.Start(loop.address, 0)) {}
    bool started() const { return started_; }
    bool Connect(CDevComm& dev) const {
        dev.SetAddress(loop_.address);
        dev.SetPort(server.port());
        return (loop_.ipv6 ? dev.ConnectTcp6() : dev.ConnectTcp()) == 1;
    }

    sim::SimServer server;

  private:
    Loopback loop_;
    bool started_;
};

}  // namespace qv::test
