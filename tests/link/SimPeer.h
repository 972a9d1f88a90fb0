// A simulated instrument on loopback and an engine connected to it, for the engine and
// session tests.
#pragma once

#include <chrono>
#include <string>

#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "sim/SimServer.h"

namespace qv::test {

using Clock = std::chrono::steady_clock;

struct Loopback {
    std::string address;
    bool ipv6 = false;
};
inline const Loopback kLoopV4{"127.0.0.1", false};
inline const Loopback kLoopV6{"::1", true};

inline std::string Name(const Loopback& l) {
    return l.ipv6 ? "IPv6" : "IPv4";
}

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
