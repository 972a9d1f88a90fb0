// Client stream socket over IPv4 or IPv6 with short, bounded waits. The server and
// datagram modes of the design are never switched on, so they are left out.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <shared_mutex>
#include <string>

namespace qv {

class CSocketComm {
  public:
    CSocketComm();
    virtual ~CSocketComm();
    CSocketComm(const CSocketComm&) = delete;
    CSocketComm& operator=(const CSocketComm&) = delete;

    virtual void OnDataReceived(const unsigned char* /*buffer*/, std::size_t /*size*/) {}
    virtual void OnEvent(unsigned /*eventCode*/) {}

    // Connects over IPv4 to host on the service port. Fails at once, leaving it untouched,
    // when a socket is already open.
    bool ConnectTo(const char* host);
    // Connects over IPv6; an open socket is closed first.
    bool ConnectTo6(const char* host);

    // Waits up to timeoutValue (t / 1000 s plus t % 1000 us) for data, then one recv.
    // Returns the bytes read, 0 when nothing arrived (or bad arguments), -1 when the read
    // failed or the peer closed.
    int ReadComm(unsigned char* buffer, int capacity, unsigned timeoutValue);
    // Waits until the socket is readable (data, end of stream or error) or the time is up.
    bool WaitReadable(std::chrono::milliseconds timeout);
    // Sends all n bytes, continuing partial sends for a bounded time. Returns n, 0 when
    // there is no socket or no buffer, -1 when the send failed or timed out.
    int WriteComm(const unsigned char* buffer, int n);

    // Closes the socket; safe while another thread waits in ReadComm or WaitReadable.
    void StopComm();
    bool IsOpen() const { return socket_.load() >= 0; }

    // IPv4 address of host (or of this machine with none) and service; false when both
    // address and port are zero.
    bool GetSockAddress(sockaddr_in& address, const char* host, const char* service) const;
    // IPv4 address in host byte order; all ones when nothing resolves.
    std::uint32_t GetHostAddress(const char* host) const;
    // Official name of this machine; false when it does not fit capacity (260 in the design).
    bool GetLocalName(char* out, std::size_t capacity) const;

    // The service every connect uses. The product always uses "66"; only tests and tools
    // point it elsewhere.
    void SetService(std::string service) { service_ = std::move(service); }
    const std::string& Service() const { return service_; }

    // Bound on a blocking connect; the system default is minutes.
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};
    // Bound on completing one send.
    static constexpr std::chrono::milliseconds kSendTimeout{2000};

  protected:
    // Connects fd to address within kConnectTimeout; returns 0 or an errno value.
    static int ConnectWithTimeout(int fd, const sockaddr* address, socklen_t length);
    // Takes ownership of a connected descriptor.
    void Adopt(int fd);

  private:
    std::atomic<int> socket_{-1};
    // Shared by reads and writes, exclusive for close: a descriptor is never closed under a
    // thread still using it.
    mutable std::shared_mutex lifetime_;
    std::string service_ = "66";
    bool broadcast_ = false;
};

}  // namespace qv
