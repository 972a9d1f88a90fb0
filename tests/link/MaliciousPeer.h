// An instrument that misbehaves on purpose, on loopback: it accepts one client, reads one
// request frame, then runs its script with a Send and a Pause that Stop interrupts.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "link/CommandSet.h"
#include "link/FrameCodec.h"

namespace qv::test {

// Screen answer frames of count, encoded back to back: (index, payload) each.
inline std::vector<std::uint8_t> Frames(
    std::uint8_t count, std::initializer_list<std::pair<int, std::string_view>> parts) {
    std::vector<std::uint8_t> all, f(kMaxEncodedFrame);
    for (const auto& [index, text] : parts) {
        const FrameHeader h{0x41, REQ_SCREEN, count, static_cast<std::uint8_t>(index)};
        const std::size_t n =
            EncodeFrame(h, std::vector<std::uint8_t>(text.begin(), text.end()), f);
        all.insert(all.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return all;
}

// Up to 20 ms for fd to be ready.
inline bool WaitReady(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 20) > 0;
}

class MaliciousPeer {
  public:
    class Wire {
      public:
        Wire(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
        // False once the client has gone or the peer is stopping.
        bool Send(const std::vector<std::uint8_t>& bytes) {
            for (std::size_t at = 0; at < bytes.size(); WaitReady(fd_, POLLOUT)) {
                const ssize_t n =
                    ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (stop_.load() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    return false;
                }
                at += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
            return true;
        }
        bool Pause(std::chrono::milliseconds time) {
            for (const auto until = std::chrono::steady_clock::now() + time;
                 !stop_.load() && std::chrono::steady_clock::now() < until;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return !stop_.load();
        }

      private:
        int fd_;
        const std::atomic<bool>& stop_;
    };

    // hangUp: the connection closes when the script ends (else it stays open, silent).
    explicit MaliciousPeer(std::function<void(Wire&)> script, bool hangUp = false)
        : hangUp_(hangUp), script_(std::move(script)) {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
            ::listen(listener_, 4) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            port_ = ntohs(a.sin_port);
            thread_ = std::thread([this] { Run(); });
        }
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
            ::close(std::exchange(listener_, -1));
        }
    }

  private:
    // Waits for fd to become readable; false once stopping.
    bool Readable(int fd) {
        while (!stop_.load() && !WaitReady(fd, POLLIN)) {
        }
        return !stop_.load();
    }
    void Run() {
        if (!Readable(listener_)) {
            return;
        }
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::uint8_t buf[512];  // the request: everything up to its end marker
        for (ssize_t n = 0; Readable(client) && (n = ::recv(client, buf, sizeof buf, 0)) > 0;) {
            if (std::find(buf, buf + n, kFrameEnd) != buf + n) {
                Wire wire(client, stop_);
                script_(wire);
                break;
            }
        }
        for (Wire idle(client, stop_); !hangUp_ && idle.Pause(std::chrono::seconds(1));) {
        }
        ::close(client);
    }

    const bool hangUp_;
    std::function<void(Wire&)> script_;
    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Whole frames of an answer that never ends, as fast as the client reads them.
inline void Flood(MaliciousPeer::Wire& w) {
    for (const auto frame = Frames(255, {{0, std::string(100, 0x7E)}}); w.Send(frame);) {
    }
}

}  // namespace qv::test
