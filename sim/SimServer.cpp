#include "sim/SimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "link/CommandSet.h"
#include "link/FrameAssembler.h"

namespace qv::sim {
namespace {

constexpr std::array<std::uint8_t, 5> kGarbage{0x00, 0x13, 0x37, 0xA5, 0x20};
// Loopback pairs tried when IPv4's free port is taken on IPv6.
constexpr int kPortAttempts = 10;
constexpr std::chrono::microseconds kSendStep{200'000};

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

SimServer::SimServer(int width, int height) : instrument_(width, height) {}

SimServer::~SimServer() {
    Stop();
}

int SimServer::Listen(const std::string& address, std::uint16_t port, std::uint16_t& got) {
    // A numeric address only: no name is looked up.
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        error_ = "not an IP address: " + address;
        return EINVAL;
    }
    sockaddr_storage addr{};
    const socklen_t addrLen = found->ai_addrlen;
    const int family = found->ai_family;
    std::memcpy(&addr, found->ai_addr, std::min<std::size_t>(addrLen, sizeof addr));
    ::freeaddrinfo(found);
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int e = errno;
        error_ = std::string("socket: ") + std::system_category().message(e);
        return e;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6) {
        // "::" serves IPv4 clients too.
        const int v6only = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0 ||
        ::listen(fd, kMaxClients) != 0) {
        const int e = errno;
        error_ = "cannot listen on " + address + " port " + std::to_string(port) + ": " +
                 std::system_category().message(e);
        if (e == EACCES && port < 1024) {
            error_ += " (ports below 1024 need privilege; use --port with a higher port)";
        }
        ::close(fd);
        return e;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    got = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    listeners_.push_back(fd);
    addresses_.push_back(address);
    return 0;
}

void SimServer::CloseListeners() {
    for (int& fd : listeners_) {
        CloseFd(fd);
    }
    listeners_.clear();
    addresses_.clear();
}

bool SimServer::Start(const std::string& bind, std::uint16_t port) {
    Stop();
    error_.clear();
    std::uint16_t got = 0;
    if (!bind.empty()) {
        if (Listen(bind, port, got) != 0) {
            return false;
        }
    } else {
        // Both loopbacks on one port. A free IPv4 port may be taken on IPv6: then another.
        for (int attempt = 1;; ++attempt) {
            if (Listen("127.0.0.1", port, got) != 0) {
                return false;
            }
            std::uint16_t got6 = 0;
            const int e = Listen("::1", got, got6);
            if (e == 0) {
                break;
            }
            if (e == EADDRNOTAVAIL || e == EAFNOSUPPORT) {
                error_.clear();  // no IPv6 on this machine: IPv4 alone
                break;
            }
            CloseListeners();
            if (port != 0 || attempt == kPortAttempts) {
                return false;
            }
        }
    }
    port_ = got;
    std::array<int, 2> pipe{};
    if (::pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("pipe: ") + std::system_category().message(errno);
        CloseListeners();
        return false;
    }
    wakeRead_ = pipe[0];
    wakeWrite_ = pipe[1];
    stopping_.store(false);
    thread_ = std::thread(&SimServer::AcceptLoop, this);
    return true;
}

std::string SimServer::listening() const {
    std::string text;
    for (const std::string& address : addresses_) {
        text += (text.empty() ? "" : " and ") + address;
    }
    return text;
}

void SimServer::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_.store(true);
    // Never read: the pipe stays readable and wakes every poll of every client.
    const std::uint8_t b = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &b, 1);
    thread_.join();
    Reap(true);
    CloseListeners();
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

bool SimServer::Pause(std::chrono::microseconds time) {
    if (time.count() <= 0) {
        return !stopping_.load();
    }
    pollfd p{wakeRead_, POLLIN, 0};
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(time);
    ::poll(&p, 1, static_cast<int>(ms.count()));
    return !stopping_.load();
}

void SimServer::Reap(bool all) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (all || it->done.load()) {
            it->thread.join();
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void SimServer::AcceptLoop() {
    std::vector<pollfd> fds;
    for (const int fd : listeners_) {
        fds.push_back({fd, POLLIN, 0});
    }
    fds.push_back({wakeRead_, POLLIN, 0});
    while (!stopping_.load()) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (stopping_.load()) {
            return;
        }
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) {
                continue;
            }
            const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            Reap(false);
            if (clients_.size() >= static_cast<std::size_t>(kMaxClients)) {
                ::close(fd);  // refused at once rather than left waiting
                continue;
            }
            connections_.fetch_add(1);
            Client& client = clients_.emplace_back();
            client.fd = fd;
            client.thread = std::thread([this, &client] {
                Serve(client.fd);
                ::close(client.fd);
                client.done.store(true);
            });
        }
    }
}

void SimServer::Serve(int client) {
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Short, so that a write to a client that reads nothing sees Stop and the idle limit.
    const auto step = std::min<std::chrono::microseconds>(kSendStep, idleLimit_);
    const timeval sendTimeout{0, static_cast<suseconds_t>(step.count())};
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    std::uint64_t framesSent = 0;
    FrameAssembler assembler;
    std::vector<std::uint8_t> input(64 * 1024);
    auto idleUntil = SimClock::now() + idleLimit_;
    while (!stopping_.load()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(idleUntil - SimClock::now()).count();
        if (left <= 0) {
            return;  // no request for the idle limit
        }
        std::array<pollfd, 2> fds{{{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || stopping_.load()) {
            return;
        }
        if (ready == 0) {
            continue;
        }
        const ssize_t got = ::recv(client, input.data(), input.size(), 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        std::span<const std::uint8_t> rest(input.data(), static_cast<std::size_t>(got));
        while (!rest.empty()) {
            const FrameAssembler::Result r = assembler.Feed(rest);
            rest = rest.subspan(r.consumed);
            // Garbage or a broken request is skipped; the next start marker begins afresh.
            if (r.status != FrameAssembler::Status::Frame) {
                continue;
            }
            idleUntil = SimClock::now() + idleLimit_;
            const FrameView& request = assembler.frame();
            if (onRequest) {
                onRequest(request.header.code);
            }
            const Frames answer = instrument_.Handle(request);
            if (request.header.code == REQ_CMD && onCommand) {
                // This client's text: another client may have sent one since.
                onCommand(SimInstrument::CommandText(request));
            }
            const SimFaults faults = instrument_.faults();
            if (faults.silent) {
                continue;
            }
            bool first = true;
            for (const auto& frame : answer) {
                if (!WriteFrame(client, frame, first)) {
                    return;
                }
                first = false;
                if (faults.closeAfterFrames > 0 &&
                    ++framesSent >= static_cast<std::uint64_t>(faults.closeAfterFrames)) {
                    return;
                }
            }
        }
    }
}

bool SimServer::WriteFrame(int client, const std::vector<std::uint8_t>& frame, bool first) {
    const SimFaults faults = instrument_.faults();
    if (faults.frameDelayMs > 0 && !Pause(std::chrono::milliseconds(faults.frameDelayMs))) {
        return false;
    }
    if (first && faults.garbageBeforeFrame && !WriteAll(client, kGarbage.data(), kGarbage.size())) {
        return false;
    }
    if (faults.splitWrites <= 0) {
        return WriteAll(client, frame.data(), frame.size());
    }
    const auto piece = static_cast<std::size_t>(faults.splitWrites);
    for (std::size_t offset = 0; offset < frame.size(); offset += piece) {
        if (offset > 0 && !Pause(std::chrono::microseconds(faults.splitGapUs))) {
            return false;
        }
        if (!WriteAll(client, frame.data() + offset, std::min(piece, frame.size() - offset))) {
            return false;
        }
    }
    return true;
}

bool SimServer::WriteAll(int client, const std::uint8_t* data, std::size_t size) {
    auto stuckUntil = SimClock::now() + idleLimit_;
    while (size > 0) {
        const ssize_t sent = ::send(client, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            // The send time-out lets Stop, or the idle limit, end a write to a client that
            // reads nothing.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && !stopping_.load() &&
                SimClock::now() < stuckUntil) {
                continue;
            }
            return false;
        }
        stuckUntil = SimClock::now() + idleLimit_;
        if (stopping_.load()) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace qv::sim
