// Test fixture pieces shared by the engine tests: a simulated instrument on loopback and an
// engine connected to it.
#pragma once

#include <dirent.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "sim/SimServer.h"

namespace qv::test {

using Clock = std::chrono::steady_clock;

// Polls until the answer completes (100 or more) or fails (-1).
inline int Await(CDevComm& dev) {
    for (;;) {
        const int p = dev.Poll();
        if (p < 0 || p >= 100) {
            return p;
        }
    }
}

inline int RequestScreen(CDevComm& dev) {
    if (!dev.RequestFile(kCmdRequest, REQ_SCREEN, std::string(kScreenFileName), kScreenFileSize)) {
        return -2;
    }
    return Await(dev);
}

inline int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr) {
            ++n;
        }
        ::closedir(d);
    }
    return n;
}

struct Loopback {
    std::string bind;     // where the simulator listens
    std::string address;  // what the engine connects to
    bool ipv6 = false;
};

inline const Loopback kLoopV4{"127.0.0.1", "127.0.0.1", false};
inline const Loopback kLoopV6{"::1", "::1", true};

inline std::string Name(const Loopback& l) {
    return l.ipv6 ? "IPv6" : "IPv4";
}
inline void PrintTo(const Loopback& l, std::ostream* os) {
    *os << Name(l);
}

// Starts a simulator and connects an engine to it; ok() is false when the loopback
// family is missing on this machine.
class SimPeer {
  public:
    explicit SimPeer(const Loopback& loop) : loop_(loop) { started_ = server.Start(loop.bind, 0); }
    bool started() const { return started_; }

    bool Connect(CDevComm& dev) const {
        dev.SetAddress(loop_.address);
        dev.SetPort(server.port());
        return (loop_.ipv6 ? dev.ConnectTcp6() : dev.ConnectTcp()) == 1;
    }

    sim::SimServer server;

  private:
    Loopback loop_;
    bool started_ = false;
};

}  // namespace qv::test
