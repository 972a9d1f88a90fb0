#include "link/CSocketComm.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace qv {

using Clock = std::chrono::steady_clock;

CSocketComm::CSocketComm() = default;

CSocketComm::~CSocketComm() {
    StopComm();
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
            pollfd p{fd, POLLOUT, 0};
            const int ready = poll(&p, 1, static_cast<int>(kConnectTimeout.count()));
            if (ready == 0) {
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

void CSocketComm::Adopt(int fd) {
    // Requests and key commands are small frames that must leave at once, not wait for the
    // acknowledgement of the one before.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::unique_lock lock(lifetime_);
    socket_.store(fd);
}

bool CSocketComm::ConnectTo(const char* host) {
    if (IsOpen()) {
        return false;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in local{};
    if (!GetSockAddress(local, nullptr, "0")) {
        close(fd);
        return false;
    }
    sockaddr_in remote{};
    GetSockAddress(remote, host, service_.c_str());
    if (ConnectWithTimeout(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) != 0) {
        close(fd);
        return false;
    }
    Adopt(fd);
    return true;
}

bool CSocketComm::ConnectTo6(const char* host) {
    StopComm();
    addrinfo hints{};
    hints.ai_flags = AI_ALL | AI_ADDRCONFIG;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host, service_.c_str(), &hints, &list);
    if (rc != 0) {
        std::fprintf(stderr, "getaddrinfo: %s\n", gai_strerror(rc));
        return false;
    }
    int fd = -1;
    const addrinfo* entry = nullptr;
    for (const addrinfo* p = list; p != nullptr; p = p->ai_next) {
        if (p->ai_family != AF_INET6) {
            continue;
        }
        fd = socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
        if (fd >= 0) {
            entry = p;
            break;
        }
    }
    if (entry == nullptr) {
        freeaddrinfo(list);
        return false;
    }
    const int err = ConnectWithTimeout(fd, entry->ai_addr, entry->ai_addrlen);
    if (err != 0) {
        close(fd);
        char text[1025];
        if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof(text), nullptr, 0,
                        NI_NUMERICHOST) != 0) {
            std::strcpy(text, "<unknown>");
        }
        std::fprintf(stderr, "Client: connect() to %s failed with error %d: %s\n", text, err,
                     std::strerror(err));
        freeaddrinfo(list);
        return false;
    }
    freeaddrinfo(list);
    Adopt(fd);
    return true;
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
    pollfd p{fd, POLLIN, 0};
    const timespec wait{static_cast<time_t>(timeoutValue / 1000),
                        static_cast<long>(timeoutValue % 1000) * 1000L};
    const int ready = ppoll(&p, 1, &wait, nullptr);
    if (ready <= 0) {
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
    {
        // Wakes any thread waiting on the socket, so the exclusive lock below comes quickly.
        std::shared_lock lock(lifetime_);
        const int fd = socket_.load();
        if (fd < 0) {
            return;
        }
        shutdown(fd, SHUT_RDWR);
    }
    {
        std::unique_lock lock(lifetime_);
        const int fd = socket_.exchange(-1);
        if (fd < 0) {
            return;
        }
        close(fd);
        broadcast_ = false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool CSocketComm::GetSockAddress(sockaddr_in& address, const char* host,
                                 const char* service) const {
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

std::uint32_t CSocketComm::GetHostAddress(const char* host) const {
    char local[261];
    if (host == nullptr) {
        if (!GetLocalName(local, sizeof(local) - 1)) {
            return INADDR_NONE;
        }
        host = local;
    }
    if (std::strcmp(host, "255.255.255.255") == 0) {
        return INADDR_NONE;
    }
    in_addr parsed{};
    if (inet_aton(host, &parsed) != 0) {
        return ntohl(parsed.s_addr);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0 || list == nullptr) {
        return INADDR_NONE;
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    const std::uint32_t result = ntohl(v4->sin_addr.s_addr);
    freeaddrinfo(list);
    return result;
}

bool CSocketComm::GetLocalName(char* out, std::size_t capacity) const {
    if (out == nullptr) {
        errno = EINVAL;
        return false;
    }
    char name[261] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) {
        return false;
    }
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    std::string official = name;
    if (getaddrinfo(name, nullptr, &hints, &list) == 0 && list != nullptr) {
        if (list->ai_canonname != nullptr) {
            official = list->ai_canonname;
        }
        freeaddrinfo(list);
    }
    if (official.size() + 1 > capacity) {
        errno = ENOBUFS;
        return false;
    }
    std::memcpy(out, official.c_str(), official.size() + 1);
    return true;
}

}  // namespace qv
