#include "sim/SimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "link/CommandSet.h"
#include "link/FrameAssembler.h"

namespace qv::sim {
namespace {

constexpr std::array<std::uint8_t, 5> kGarbage{0x00, 0x13, 0x37, 0xA5, 0x20};

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

bool SimServer::Start(const std::string& bind, std::uint16_t port) {
    Stop();
    error_.clear();
    sockaddr_storage addr{};
    socklen_t addrLen = 0;
    int family = AF_INET;
    if (bind.find(':') != std::string::npos) {
        family = AF_INET6;
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        if (::inet_pton(AF_INET6, bind.c_str(), &a6->sin6_addr) != 1) {
            error_ = "not an IPv6 address: " + bind;
            return false;
        }
        addrLen = sizeof(sockaddr_in6);
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(port);
        if (::inet_pton(AF_INET, bind.c_str(), &a4->sin_addr) != 1) {
            error_ = "not an IPv4 address: " + bind;
            return false;
        }
        addrLen = sizeof(sockaddr_in);
    }
    listener_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        error_ = std::string("socket: ") + std::system_category().message(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6) {
        // "::" serves IPv4 clients too.
        const int v6only = 0;
        ::setsockopt(listener_, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    }
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0 ||
        ::listen(listener_, 4) != 0) {
        const int e = errno;
        error_ = "cannot listen on " + bind + " port " + std::to_string(port) + ": " +
                 std::system_category().message(e);
        if (e == EACCES && port < 1024) {
            error_ += " (ports below 1024 need privilege; use --port with a higher port)";
        }
        CloseFd(listener_);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                     : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    std::array<int, 2> pipe{};
    if (::pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("pipe: ") + std::system_category().message(errno);
        CloseFd(listener_);
        return false;
    }
    wakeRead_ = pipe[0];
    wakeWrite_ = pipe[1];
    stopping_.store(false);
    thread_ = std::thread(&SimServer::AcceptLoop, this);
    return true;
}

void SimServer::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_.store(true);
    const std::uint8_t b = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &b, 1);
    thread_.join();
    CloseFd(listener_);
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

void SimServer::AcceptLoop() {
    while (!stopping_.load()) {
        std::array<pollfd, 2> fds{{{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (stopping_.load()) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            connections_.fetch_add(1);
            Serve(client);
            CloseFd(client);
        }
    }
}

void SimServer::Serve(int client) {
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const timeval sendTimeout{0, 200000};
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    framesSent_ = 0;
    FrameAssembler assembler;
    std::vector<std::uint8_t> input(64 * 1024);
    while (!stopping_.load()) {
        std::array<pollfd, 2> fds{{{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (stopping_.load()) {
            return;
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
            const FrameView& request = assembler.frame();
            if (onRequest) {
                onRequest(request.header.code);
            }
            const Frames answer = instrument_.Handle(request);
            if (request.header.code == REQ_CMD && onCommand) {
                onCommand(instrument_.LastCommand());
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
                    ++framesSent_ >= static_cast<std::uint64_t>(faults.closeAfterFrames)) {
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
    while (size > 0) {
        const ssize_t sent = ::send(client, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            // The send time-out lets Stop end a write to a client that reads nothing.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && !stopping_.load()) {
                continue;
            }
            return false;
        }
        if (stopping_.load()) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace qv::sim
