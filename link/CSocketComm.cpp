#include "link/CSocketComm.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace qv {

using Clock = std::chrono::steady_clock;

namespace {

std::atomic<CSocketComm::NameLookup> gLookup{&::getaddrinfo};

}  // namespace

void CSocketComm::SetNameLookup(NameLookup lookup) {
    gLookup.store(lookup != nullptr ? lookup : &::getaddrinfo);
}

struct CSocketComm::Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    std::vector<sockaddr_storage> addresses;
};

std::vector<sockaddr_storage> CSocketComm::LookUp(const char* host, const char* service, int family,
                                                  int flags, int& rc) {
    auto state = std::make_shared<Lookup>();
    {
        std::lock_guard hold(lookupLock_);
        lookup_ = state;
    }
    auto run = [state, lookupFn = gLookup.load(), host = std::string(host != nullptr ? host : ""),
                service = std::string(service != nullptr ? service : ""), family, flags] {
        addrinfo hints{};
        hints.ai_flags = flags;
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int result =
            lookupFn(host.c_str(), service.empty() ? nullptr : service.c_str(), &hints, &list);
        std::vector<sockaddr_storage> found;
        for (const addrinfo* p = result == 0 ? list : nullptr; p != nullptr; p = p->ai_next) {
            if ((family == AF_UNSPEC || p->ai_family == family) &&
                p->ai_addrlen <= sizeof(sockaddr_storage)) {
                sockaddr_storage a{};
                std::memcpy(&a, p->ai_addr, p->ai_addrlen);
                found.push_back(a);
            }
        }
        if (list != nullptr) {
            freeaddrinfo(list);
        }
        std::lock_guard hold(state->lock);
        state->rc = result;
        state->addresses = std::move(found);
        state->finished = true;
        state->done.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();
    }
    std::unique_lock hold(state->lock);
    state->done.wait_for(hold, kLookupTimeout, [&] { return state->finished || stopped_.load(); });
    if (!state->finished || stopped_.load()) {
        rc = EAI_AGAIN;
        return {};
    }
    rc = state->rc;
    return state->addresses;
}

CSocketComm::CSocketComm() {
    if (::pipe(wake_) == 0) {
        for (const int fd : wake_) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
        }
    } else {
        wake_[0] = wake_[1] = -1;
    }
}

CSocketComm::~CSocketComm() {
    StopComm();
    for (const int fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int CSocketComm::ConnectWithTimeout(int fd, const sockaddr* address, socklen_t length) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        return errno;
    }
    int err = 0;
    if (connect(fd, address, length) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            std::array<pollfd, 2> p{{{fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}}};
            const int ready = stopped_.load() ? 0
                                              : poll(p.data(), p.size(),
                                                     static_cast<int>(kConnectTimeout.count()));
            if (stopped_.load() || (p[1].revents & POLLIN) != 0) {
                err = ECANCELED;
            } else if (ready == 0) {
                err = ETIMEDOUT;
            } else if (ready < 0) {
                err = errno;
            } else {
                socklen_t len = sizeof(err);
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                    err = errno;
                }
            }
        }
    }
    // The socket stays a blocking one, as created; waits are done with poll.
    if (fcntl(fd, F_SETFL, flags) < 0 && err == 0) {
        err = errno;
    }
    return err;
}

bool CSocketComm::Adopt(int fd) {
    // Requests and key commands are small frames that must leave at once, not wait for the
    // acknowledgement of the one before.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::unique_lock lock(lifetime_);
    if (stopped_.load()) {
        close(fd);
        return false;
    }
    socket_.store(fd);
    return true;
}

bool CSocketComm::Connect(const char* host, int family) {
    const bool v6 = family == AF_INET6;
    if (!v6 && IsOpen()) {
        return false;
    }
    if (v6) {
        CloseSocket();
    }

    // The one address to try: IPv4 the host's first address, IPv6 the first IPv6 entry of the
    // system's for which a socket can be made. Other entries are not tried.
    sockaddr_storage remote{};
    socklen_t remoteLength = 0;
    int fd = -1;
    if (!v6) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        sockaddr_in v4{};
        GetSockAddress(v4, host, service_.c_str());
        std::memcpy(&remote, &v4, sizeof v4);
        remoteLength = sizeof v4;
    } else {
        int rc = 0;
        const auto found = LookUp(host, service_.c_str(), AF_INET6, AI_ALL | AI_ADDRCONFIG, rc);
        if (rc != 0) {
            std::fprintf(stderr, "getaddrinfo: %s\n", gai_strerror(rc));
            return false;
        }
        for (const sockaddr_storage& a : found) {
            fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd >= 0) {
                remote = a;
                remoteLength = sizeof(sockaddr_in6);
                break;
            }
        }
        if (fd < 0) {
            return false;
        }
    }

    const auto* address = reinterpret_cast<const sockaddr*>(&remote);
    const int err = ConnectWithTimeout(fd, address, remoteLength);
    if (err != 0) {
        close(fd);
        if (v6) {
            char text[1025];
            if (getnameinfo(address, remoteLength, text, sizeof(text), nullptr, 0,
                            NI_NUMERICHOST) != 0) {
                std::strcpy(text, "<unknown>");
            }
            std::fprintf(stderr, "Client: connect() to %s failed with error %d: %s\n", text, err,
                         std::system_category().message(err).c_str());
        }
        return false;
    }
    return Adopt(fd);
}

void CSocketComm::ClearStop() {
    stopped_.store(false);
    if (wake_[0] >= 0) {
        char drain[16];
        while (::read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
}

std::chrono::microseconds CSocketComm::ReadWait(unsigned timeoutValue) {
    return std::chrono::seconds(timeoutValue / 1000) +
           std::chrono::microseconds(timeoutValue % 1000);
}

int CSocketComm::ReadComm(unsigned char* buffer, int capacity, unsigned timeoutValue) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    std::shared_lock lock(lifetime_);
    const int fd = socket_.load();
    if (fd < 0) {
        return 0;
    }
    // Bytes already waiting are taken without a wait: a stream that keeps arriving costs one
    // call per read rather than two.
    const ssize_t ready = recv(fd, buffer, static_cast<std::size_t>(capacity), MSG_DONTWAIT);
    if (ready > 0) {
        return static_cast<int>(ready);
    }
    if (ready == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        return -1;
    }
    pollfd p{fd, POLLIN, 0};
    const auto waitFor = ReadWait(timeoutValue);
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(waitFor);
    const timespec wait{static_cast<time_t>(whole.count()),
                        static_cast<long>(std::chrono::nanoseconds(waitFor - whole).count())};
    if (ppoll(&p, 1, &wait, nullptr) <= 0) {
        return 0;
    }
    const ssize_t got = recv(fd, buffer, static_cast<std::size_t>(capacity), 0);
    return got < 1 ? -1 : static_cast<int>(got);
}

bool CSocketComm::WaitReadable(std::chrono::milliseconds timeout) {
    std::shared_lock lock(lifetime_);
    const int fd = socket_.load();
    if (fd < 0) {
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    const int ms = timeout.count() < 0 ? 0 : static_cast<int>(timeout.count());
    return poll(&p, 1, ms) > 0;
}

bool CSocketComm::PeerClosed() const {
    std::shared_lock lock(lifetime_);
    const int fd = socket_.load();
    if (fd < 0) {
        return false;
    }
    pollfd p{fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

int CSocketComm::WriteComm(const unsigned char* buffer, int n) {
    if (buffer == nullptr) {
        return 0;
    }
    std::shared_lock lock(lifetime_);
    const int fd = socket_.load();
    if (fd < 0) {
        return 0;
    }
    const auto deadline = Clock::now() + kSendTimeout;
    int sent = 0;
    while (sent < n) {
        const ssize_t r = send(fd, buffer + sent, static_cast<std::size_t>(n - sent),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r > 0) {
            sent += static_cast<int>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return -1;
        }
    }
    return sent;
}

void CSocketComm::StopComm() {
    // A connect in progress has no socket here yet: wake it, and a look-up's wait.
    stopped_.store(true);
    std::shared_ptr<Lookup> lookup;
    {
        std::lock_guard hold(lookupLock_);
        lookup = lookup_;
    }
    if (lookup) {
        std::lock_guard hold(lookup->lock);
        lookup->done.notify_all();
    }
    if (wake_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    }
    // Closed at once: the window's thread calls this and never waits.
    CloseSocket();
}

bool CSocketComm::CloseSocket() {
    {
        // Wakes any thread waiting on the socket, so the exclusive lock below comes quickly.
        std::shared_lock lock(lifetime_);
        const int fd = socket_.load();
        if (fd < 0) {
            return false;
        }
        shutdown(fd, SHUT_RDWR);
    }
    std::unique_lock lock(lifetime_);
    const int fd = socket_.exchange(-1);
    if (fd < 0) {
        return false;
    }
    close(fd);
    broadcast_ = false;
    return true;
}

bool CSocketComm::GetSockAddress(sockaddr_in& address, const char* host, const char* service) {
    address = sockaddr_in{};
    address.sin_addr.s_addr = htonl(GetHostAddress(host));
    std::uint16_t port = 0;
    if (service != nullptr && std::isdigit(static_cast<unsigned char>(service[0]))) {
        port = static_cast<std::uint16_t>(std::strtoul(service, nullptr, 10));
        address.sin_port = htons(port);
    } else if (service != nullptr) {
        servent result{};
        servent* found = nullptr;
        char scratch[1024];
        if (getservbyname_r(service, "tcp", &result, scratch, sizeof(scratch), &found) == 0 &&
            found != nullptr) {
            address.sin_port = static_cast<in_port_t>(found->s_port);
        }
    }
    address.sin_family = AF_INET;
    return !(address.sin_addr.s_addr == 0 && address.sin_port == 0);
}

std::uint32_t CSocketComm::GetHostAddress(const char* host) {
    if (host == nullptr || std::strcmp(host, "255.255.255.255") == 0) {
        return INADDR_NONE;
    }
    in_addr parsed{};
    if (inet_aton(host, &parsed) != 0) {
        return ntohl(parsed.s_addr);
    }
    int rc = 0;
    const auto found = LookUp(host, nullptr, AF_INET, 0, rc);
    if (rc != 0 || found.empty()) {
        return INADDR_NONE;
    }
    return ntohl(reinterpret_cast<const sockaddr_in*>(&found.front())->sin_addr.s_addr);
}

}  // namespace qv
