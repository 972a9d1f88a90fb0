// Client stream socket over IPv4 or IPv6 with short, bounded waits. Only the client stream
// mode is ever used.
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace qv {

class CSocketComm {
  public:
    CSocketComm();
    virtual ~CSocketComm();
    CSocketComm(const CSocketComm&) = delete;
    CSocketComm& operator=(const CSocketComm&) = delete;

    virtual void OnDataReceived(const unsigned char* /*buffer*/, std::size_t /*size*/) {}
    virtual void OnEvent(unsigned /*eventCode*/) {}

    // Connects to host on the service port over family AF_INET or AF_INET6. IPv4 fails at
    // once, leaving it untouched, when a socket is already open; IPv6 closes it first and
    // says on standard error why a look-up or connect failed. StopComm from another thread
    // ends a connect in progress, and every connect after it until ClearStop.
    bool Connect(const char* host, int family);
    bool ConnectTo(const char* host) {
        ClearStop();
        return Connect(host, AF_INET);
    }
    bool ConnectTo6(const char* host) {
        ClearStop();
        return Connect(host, AF_INET6);
    }

    // Waits up to t / 1000 seconds plus t % 1000 microseconds (the two parts in different units,
    // so the engine's 10 is a 10-microsecond wait) for data, then one recv.
    // Returns the bytes read, 0 when nothing arrived (or bad arguments), -1 when the read
    // failed or the peer closed.
    int ReadComm(unsigned char* buffer, int capacity, unsigned timeoutValue);
    // Waits until the socket is readable (data, end of stream or error) or the time is up.
    bool WaitReadable(std::chrono::milliseconds timeout);
    // The peer closed or reset the connection (no data is read). False with no socket.
    bool PeerClosed() const;
    // Sends all n bytes, continuing partial sends for a bounded time. Returns n, 0 when
    // there is no socket or no buffer, -1 when the send failed or timed out.
    int WriteComm(const unsigned char* buffer, int n);

    // Closes the socket; safe while another thread waits in ReadComm, WaitReadable, WriteComm
    // or a connect, which all return at once.
    void StopComm();
    bool IsOpen() const { return socket_.load() >= 0; }

    // IPv4 address of host and service; false when both address and port are zero.
    bool GetSockAddress(sockaddr_in& address, const char* host, const char* service);
    // IPv4 address in host byte order; all ones when nothing resolves.
    std::uint32_t GetHostAddress(const char* host);

    // The service every connect uses. The product always uses "66"; only tests and tools
    // point it elsewhere.
    void SetService(std::string service) { service_ = std::move(service); }
    const std::string& Service() const { return service_; }

    // Bound on a blocking connect; the system default is minutes.
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};
    // Bound on completing one send.
    static constexpr std::chrono::milliseconds kSendTimeout{2000};
    // Bound on a name look-up; the system's own can take far longer.
    static constexpr std::chrono::milliseconds kLookupTimeout{5000};

    // The system's name look-up (getaddrinfo's signature); tests put a slow one in its place.
    using NameLookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static void SetNameLookup(NameLookup lookup);

    // The wait ReadComm makes for a time-out value.
    static std::chrono::microseconds ReadWait(unsigned timeoutValue);

  protected:
    // Connects fd to address within kConnectTimeout; returns 0 or an errno value. StopComm
    // ends the wait with ECANCELED.
    int ConnectWithTimeout(int fd, const sockaddr* address, socklen_t length);
    // Takes ownership of a connected descriptor; false (and closed) when StopComm came first.
    bool Adopt(int fd);
    // Forgets an earlier StopComm, so the socket can connect again.
    void ClearStop();
    // Shuts the socket down both ways and closes it; true when one was open.
    bool CloseSocket();

    struct Lookup;
    // getaddrinfo for host and service on a thread of its own, waited for within
    // kLookupTimeout or until StopComm; a look-up cannot be interrupted, so one left behind
    // finishes by itself and its result is dropped. The addresses of family (AF_UNSPEC: all),
    // and the look-up's result code (EAI_AGAIN when given up).
    std::vector<sockaddr_storage> LookUp(const char* host, const char* service, int family,
                                         int flags, int& rc);

  private:
    std::atomic<int> socket_{-1};
    std::mutex lookupLock_;
    std::shared_ptr<Lookup> lookup_;  // the look-up being waited for
    // Set by StopComm, cleared by ClearStop: a connect in progress gives up.
    std::atomic<bool> stopped_{false};
    // Written by StopComm to wake a connect in progress.
    int wake_[2] = {-1, -1};
    // Shared by reads and writes, exclusive for close: a descriptor is never closed under a
    // thread still using it.
    mutable std::shared_mutex lifetime_;
    std::string service_ = "66";
    bool broadcast_ = false;
};

}  // namespace qv
