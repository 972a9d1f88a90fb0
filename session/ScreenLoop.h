// The screen-loop worker: while remote control is on, asks the instrument for its screen
// again and again, at most about two a second, writes each to the frame file and has it
// drawn. One exchange at a time; the session's response-ready flag is the token.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "link/CDevComm.h"
#include "session/SessionController.h"

namespace qv {

class ScreenLoop {
  public:
    static constexpr std::chrono::milliseconds kPeriod{500};
    static constexpr std::chrono::milliseconds kStep{50};
    static constexpr std::chrono::milliseconds kSoftKeyOffset{300};

    ScreenLoop(CDevComm& engine, SessionController& session, bool softKey, std::mutex& frameLock);
    ~ScreenLoop();
    ScreenLoop(const ScreenLoop&) = delete;
    ScreenLoop& operator=(const ScreenLoop&) = delete;

    // Clears the exit and streaming flags and starts the worker. False when no thread.
    bool Start();
    // Sets the exit flag and waits for the worker to end.
    void Stop();
    bool Running() const { return worker_.joinable(); }

    // One screen cycle, on the calling thread.
    void RunCycle();

    // Decodes and draws the frame file; runs on the worker. Returns whether it drew.
    std::function<bool(const std::string& path)> draw;

  private:
    void Loop();
    // Waits until the period since start has passed; false when the exit flag ends it.
    bool Pace(std::chrono::steady_clock::time_point start);
    int TcpExchange();
    int UsbExchange();
    void Fail(bool tcp);

    CDevComm& engine_;
    SessionController& session_;
    const bool softKey_;
    std::mutex& frameLock_;
    std::atomic<int> exit_{0};
    std::thread worker_;
};

}  // namespace qv
