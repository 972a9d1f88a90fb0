// The screen-loop worker: while remote control is on and the link is up, asks the instrument
// for its screen again and again, writes each to the frame file and has it drawn. Its pace is
// the live rate's (LivePacing): at most about two a second at Normal. Its exchanges go through
// the link, which lets one through at a time.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "link/CDevComm.h"
#include "session/LivePacing.h"

namespace qv {

class FrameFile;
class SessionController;

class ScreenLoop {
  public:
    ScreenLoop(CDevComm& engine, SessionController& session, FrameFile& frames, bool softKey);
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
    // Is handed each whole screen first; runs on the worker and must not block.
    std::function<void(std::span<const std::uint8_t> jpeg)> sink;

    // How the stream fared over the last while: frames drawn per second, the median exchange
    // time of those frames, and the time since the last one. Any thread; allocates nothing.
    struct Health {
        int frames = 0;
        double fps = 0.0;
        int medianMs = -1;     // -1: no frame in the window
        double lastAgeS = -1;  // -1: no frame yet
    };
    Health HealthOver(std::chrono::milliseconds window) const;
    // The same as the window's pane shows it: "2.0 fps · 120 ms · 0.3 s" (UTF-8), a dash for
    // what is not known yet.
    std::string HealthText(std::chrono::milliseconds window) const;
    static constexpr std::string_view kNoHealth = "\u2014";

  private:
    void Loop();
    // Waits until the pacing's next turn; false when the exit flag ends the wait.
    bool WaitForTurn();
    // One request and its whole answer into answer_: 100, -1 (answer_.error) or aborted.
    int Exchange(const LinkFrame& request, bool tcp);
    void Fail(bool tcp);
    // The link's light check while idle: one equipment request, never beside an exchange.
    void IdleCheck();
    void Record(int exchangeMs);

    CDevComm& engine_;
    SessionController& session_;
    FrameFile& frames_;
    Answer answer_;  // worker only
    const bool softKey_;
    mutable std::mutex exitLock_;
    std::condition_variable exitChanged_;
    bool exit_ = false;
    bool ended_ = false;
    bool paceChanged_ = false;  // the next turn may have moved: wake and look again
    LivePacing pacing_;         // under exitLock_
    int earlyExchanges_ = 0;    // under exitLock_
    std::thread worker_;
    std::chrono::steady_clock::time_point lastExchange_{};  // worker only
    bool linkWasUp_ = false;                                // worker only

    struct Sample {
        std::chrono::steady_clock::time_point at;
        int ms = 0;
    };
    static constexpr std::size_t kSamples = 256;
    mutable std::mutex statsLock_;
    std::array<Sample, kSamples> samples_{};
    std::size_t sampleCount_ = 0;
    std::size_t sampleNext_ = 0;
};

}  // namespace qv
