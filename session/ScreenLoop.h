// The screen-loop worker: while remote control is on and the link is up, asks the instrument
// for its screen again and again, writes each to the frame file and has it drawn. Its pace is
// the live rate's (LivePacing): at most about two a second at Normal. One exchange at a time
// on the link; the session's response-ready flag says whether one is outstanding.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "link/CDevComm.h"
#include "session/LivePacing.h"

namespace qv {

class SessionController;

class ScreenLoop {
  public:
    ScreenLoop(CDevComm& engine, SessionController& session, bool softKey);
    ~ScreenLoop();
    ScreenLoop(const ScreenLoop&) = delete;
    ScreenLoop& operator=(const ScreenLoop&) = delete;

    // Starts the worker. False when no thread could be made.
    bool Start();
    // Sets the exit flag; the worker ends at its next check (a running exchange first ends).
    void RequestExit();
    // Waits up to timeout for the worker to end; true when it has.
    bool WaitEnded(std::chrono::milliseconds timeout);
    void Join();
    bool Running() const { return worker_.joinable(); }

    // One screen cycle, on the calling thread. True when it exchanged a screen (drawn or not).
    bool RunCycle();

    // Any thread. The live rate takes effect at once.
    void SetRate(LiveRate rate);
    LiveRate rate() const;
    // A command went out: at Responsive the next exchange may come sooner.
    void CommandWritten();
    // Exchanges that came early after a command (tests and benchmarks).
    int EarlyExchanges() const;

    // Decodes and draws the frame file; runs on the worker. Returns whether it drew.
    std::function<bool(const std::string& path)> draw;

  private:
    void Loop();
    // Waits until the pacing's next turn; false when the exit flag ends the wait.
    bool WaitForTurn();
    // One request and its whole answer: 100, -1 (error text set) or aborted.
    int Exchange(bool tcp);
    void Fail(bool tcp);

    CDevComm& engine_;
    SessionController& session_;
    const bool softKey_;
    std::mutex frameLock_;  // held while a frame is written to the frame file
    mutable std::mutex exitLock_;
    std::condition_variable exitChanged_;
    bool exit_ = false;
    bool ended_ = false;
    bool paceChanged_ = false;  // the next turn may have moved: wake and look again
    LivePacing pacing_;         // under exitLock_
    int earlyExchanges_ = 0;    // under exitLock_
    std::thread worker_;
};

}  // namespace qv
