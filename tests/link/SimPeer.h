// A simulated instrument on loopback and an engine connected to it, and screen bytes, for the
// engine, USB and session tests.
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "link/CDevComm.h"
#include "link/CommandSet.h"
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
