// When the screen loop takes its next turn (a turn runs one screen exchange while remote
// control is on), at three live rates:
//
//   Normal      cycles of more than 500 ms: a cycle begins 501 ms after the previous one
//               began, or when it ended if it ran longer; the soft-key panel's exchange comes
//               300 ms into its cycle.
//   Responsive  Normal, plus a quick refresh after a command: the next exchange starts 80 ms
//               after the command went out (time for the instrument to act) instead of waiting
//               out the cycle, and normal pacing resumes from that exchange. At most one such
//               early exchange per cycle (501 ms), and never more than three turns in any
//               second. A regular turn due while a command settles waits for it instead of
//               coming twice.
//   Fast        the next exchange as soon as the last one was drawn, at least 40 ms after it
//               began; while remote control is off the loop looks every 100 ms.
//
// Pure arithmetic on the times it is given; the loop locks around it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

namespace qv {

// Stored as "LiveRate": 0, 1, 2.
enum class LiveRate : int { Normal = 0, Responsive = 1, Fast = 2 };

inline constexpr int kLiveRateCount = 3;

// The rate of a stored number; anything outside 0..2 is Normal.
LiveRate LiveRateOf(int stored);

class LivePacing {
  public:
    using Clock = std::chrono::steady_clock;
    using ms = std::chrono::milliseconds;

    static constexpr ms kPeriod{501};  // more than 500 ms
    static constexpr ms kSoftKeyOffset{300};
    static constexpr ms kSettle{80};
    static constexpr ms kFastGap{40};
    static constexpr ms kFastIdle{100};
    // No window of this length holds more than kMaxPerWindow turn starts (Responsive).
    static constexpr ms kWindow{1000};
    static constexpr std::size_t kMaxPerWindow = 3;

    // start: when the loop begins; its first cycle begins then.
    LivePacing(bool softKey, Clock::time_point start);

    void SetRate(LiveRate rate) { rate_ = rate; }
    LiveRate rate() const { return rate_; }

    // When the next turn starts (it may lie in the past: start at once).
    Clock::time_point NextTurn() const;
    // A turn began at start and ended (exchange drawn, or nothing to do) at end; exchanged
    // says whether it talked to the instrument.
    void TurnDone(Clock::time_point start, Clock::time_point end, bool exchanged);
    // A command went out at `at`. True when that brings the next turn forward.
    bool CommandWritten(Clock::time_point at);

    // Whether a turn starting at `at` would be an early one (Responsive).
    bool IsEarly(Clock::time_point at) const;

  private:
    Clock::time_point Regular() const { return cycleStart_ + offset_; }
    std::optional<Clock::time_point> Early() const;
    // The earliest start the window rule allows.
    Clock::time_point WindowFloor() const;

    ms offset_;
    LiveRate rate_ = LiveRate::Normal;
    Clock::time_point cycleStart_;
    Clock::time_point lastStart_;
    Clock::time_point lastEnd_;
    bool lastExchanged_ = false;
    std::optional<Clock::time_point> lastEarly_;
    // The first command not yet shown by a turn that started at least kSettle after it.
    std::optional<Clock::time_point> pending_;
    std::optional<Clock::time_point> latestCommand_;
    // The last kMaxPerWindow turn starts, oldest first once full.
    std::array<Clock::time_point, kMaxPerWindow> starts_{};
    std::size_t startCount_ = 0;
};

}  // namespace qv
