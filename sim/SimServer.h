// The simulated instrument on the network: a TCP server (IPv4 and IPv6) serving one client
// at a time with the instrument's side of the frame protocol.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimInstrument.h"

namespace qv::sim {

class SimServer {
  public:
    explicit SimServer(int width = 800, int height = 600);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // bind: "127.0.0.1", "0.0.0.0", "::1" or "::" (dual stack). Port 0 picks a free one.
    // On failure returns false and error() says why.
    bool Start(const std::string& bind, std::uint16_t port);
    void Stop();
    std::uint16_t port() const { return port_; }
    const std::string& error() const { return error_; }
    SimInstrument& instrument() { return instrument_; }
    // Number of connections accepted so far.
    int connections() const { return connections_.load(); }

    // Called from the server thread for each request code and command text, for logging.
    std::function<void(std::uint8_t code)> onRequest;
    std::function<void(const std::string& text)> onCommand;

  private:
    void AcceptLoop();
    void Serve(int client);
    // Writes one answer frame applying the transport faults; false when the client is gone.
    bool WriteFrame(int client, const std::vector<std::uint8_t>& frame, bool first);
    bool WriteAll(int client, const std::uint8_t* data, std::size_t size);
    // Sleeps, returning early (false) when Stop was called.
    bool Pause(std::chrono::microseconds time);

    SimInstrument instrument_;
    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::string error_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::uint64_t framesSent_ = 0;  // server thread only
};

}  // namespace qv::sim
