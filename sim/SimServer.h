// The simulated instrument on the network: a TCP server (IPv4 and IPv6) with the instrument's
// side of the frame protocol. Each client is served on a thread of its own, so one that stays
// silent or stops reading holds up nobody else; beyond kMaxClients a client is refused at
// once, and one idle for the idle limit is dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimInstrument.h"

namespace qv::sim {

class SimServer {
  public:
    // Clients served at once; the next one is closed as soon as it is accepted.
    static constexpr int kMaxClients = 8;
    // A client that sends no request, or takes none of an answer, for this long is dropped.
    // Far above the pauses of a connected panel, which asks at least every few seconds.
    static constexpr std::chrono::milliseconds kIdleLimit{60'000};

    explicit SimServer(int width = 800, int height = 600);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // bind: "" for the loopback addresses alone (127.0.0.1, and ::1 where the machine has
    // IPv6), "127.0.0.1", "0.0.0.0", "::1" or "::" (dual stack). Port 0 picks a free one.
    // On failure returns false and error() says why.
    bool Start(const std::string& bind, std::uint16_t port);
    void Stop();
    std::uint16_t port() const { return port_; }
    // The addresses listened on, as "127.0.0.1 and ::1".
    std::string listening() const;
    const std::string& error() const { return error_; }
    SimInstrument& instrument() { return instrument_; }
    // Number of clients served so far (refused ones not counted).
    int connections() const { return connections_.load(); }
    // Before Start: a shorter idle limit, for tests.
    void SetIdleLimit(std::chrono::milliseconds limit) { idleLimit_ = limit; }

    // Called from the clients' threads for each request code and command text, for logging.
    std::function<void(std::uint8_t code)> onRequest;
    std::function<void(const std::string& text)> onCommand;

  private:
    struct Client {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    // Opens one more listener; got is its port. 0, or an errno value with error_ set.
    int Listen(const std::string& address, std::uint16_t port, std::uint16_t& got);
    void CloseListeners();
    void AcceptLoop();
    // Joins the clients that have ended; with all, every client (after Stop woke them).
    void Reap(bool all);
    void Serve(int client);
    // Writes one answer frame applying the transport faults; false when the client is gone.
    bool WriteFrame(int client, const std::vector<std::uint8_t>& frame, bool first);
    bool WriteAll(int client, const std::uint8_t* data, std::size_t size);
    // Sleeps, returning early (false) when Stop was called.
    bool Pause(std::chrono::microseconds time);

    SimInstrument instrument_;
    std::vector<int> listeners_;
    std::vector<std::string> addresses_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::chrono::milliseconds idleLimit_ = kIdleLimit;
    std::string error_;
    std::thread thread_;
    std::list<Client> clients_;  // the accepting thread's, and Stop's after it ended
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
};

}  // namespace qv::sim
