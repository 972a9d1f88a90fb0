// An instrument that misbehaves on purpose, on loopback: it accepts one client, reads one
// request frame, then runs a script of its own against the socket (trickle, flood, restart,
// silence, hang-up). The script gets the socket and a Pause that Stop interrupts.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "link/FrameCodec.h"

namespace qv::test {

// One encoded answer frame.
inline std::vector<std::uint8_t> Frame(std::uint8_t code, std::uint8_t count, std::uint8_t index,
                                       const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> out(kMaxEncodedFrame);
    out.resize(EncodeFrame(FrameHeader{0x41, code, count, index}, payload, out));
    return out;
}

class MaliciousPeer {
  public:
    class Wire {
      public:
        Wire(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
        // False once the client has gone or the peer is stopping.
        bool Send(const std::vector<std::uint8_t>& bytes) {
            std::size_t at = 0;
            while (at < bytes.size()) {
                if (stop_.load()) {
                    return false;
                }
                const ssize_t n =
                    ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    at += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    return false;
                }
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
            return true;
        }
        // Sleeps, or returns false at once when the peer is stopping.
        bool Pause(std::chrono::milliseconds time) {
            const auto until = std::chrono::steady_clock::now() + time;
            while (std::chrono::steady_clock::now() < until) {
                if (stop_.load()) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return !stop_.load();
        }
        int fd() const { return fd_; }

      private:
        int fd_;
        const std::atomic<bool>& stop_;
    };
    using Script = std::function<void(Wire&)>;

    // closeWhenDone: the connection closes when the script ends (else it stays open, silent).
    explicit MaliciousPeer(Script script, bool closeWhenDone = false)
        : closeWhenDone_(closeWhenDone), script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 4) != 0) {
            return;
        }
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~MaliciousPeer() { Stop(); }
    MaliciousPeer(const MaliciousPeer&) = delete;
    MaliciousPeer& operator=(const MaliciousPeer&) = delete;

    std::uint16_t port() const { return port_; }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listener_ >= 0) {
            ::close(listener_);
            listener_ = -1;
        }
    }

  private:
    void Run() {
        int client = -1;
        while (!stop_.load() && client < 0) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        if (client < 0) {
            return;
        }
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // The request: everything up to its end marker.
        bool requested = false;
        while (!stop_.load() && !requested) {
            pollfd p{client, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            std::uint8_t buf[512];
            const ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            for (ssize_t i = 0; i < n; ++i) {
                requested = requested || buf[i] == kFrameEnd;
            }
        }
        if (requested) {
            Wire wire(client, stop_);
            script_(wire);
        }
        // Hold the connection until stopped: only the script decides when it closes.
        while (!stop_.load() && !closeWhenDone_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(client);
    }

    const bool closeWhenDone_;
    Script script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qv::test
