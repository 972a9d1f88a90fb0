#include "session/LivePacing.h"

#include <algorithm>

namespace qv {

LiveRate LiveRateOf(int stored) {
    return stored >= 0 && stored < kLiveRateCount ? static_cast<LiveRate>(stored)
                                                  : LiveRate::Normal;
}

LivePacing::LivePacing(bool softKey, Clock::time_point start)
    : offset_(softKey ? kSoftKeyOffset : ms{0}),
      cycleStart_(start),
      lastStart_(start - kPeriod),
      lastEnd_(start) {}

std::optional<LivePacing::Clock::time_point> LivePacing::Early() const {
    if (!pending_) {
        return std::nullopt;
    }
    Clock::time_point at = *pending_ + kSettle;
    // One early exchange per cycle, however many commands a burst holds.
    if (lastEarly_) {
        at = std::max(at, *lastEarly_ + kPeriod);
    }
    return std::max(at, lastEnd_);
}

LivePacing::Clock::time_point LivePacing::WindowFloor() const {
    if (startCount_ < kMaxPerWindow) {
        return Clock::time_point::min();
    }
    // Strictly more than a window after the oldest of the last three starts.
    return starts_[0] + kWindow + ms{1};
}

LivePacing::Clock::time_point LivePacing::NextTurn() const {
    switch (rate_) {
        case LiveRate::Responsive: {
            Clock::time_point at = Regular();
            // A regular turn that would come while a command settles waits for it: one
            // exchange shows the command, and it is still the cycle's own.
            if (pending_ && *pending_ <= at && at < *pending_ + kSettle) {
                at = *pending_ + kSettle;
            }
            if (const auto early = Early(); early && *early < at) {
                at = *early;
            }
            return std::max(at, WindowFloor());
        }
        case LiveRate::Fast:
            return std::max(lastStart_ + (lastExchanged_ ? kFastGap : kFastIdle), lastEnd_);
        case LiveRate::Normal:
            break;
    }
    return Regular();
}

bool LivePacing::IsEarly(Clock::time_point at) const {
    return rate_ == LiveRate::Responsive && at < Regular();
}

void LivePacing::TurnDone(Clock::time_point start, Clock::time_point end, bool exchanged) {
    if (IsEarly(start)) {
        lastEarly_ = start;
    }
    // The next cycle begins a period after this turn's cycle began, or when the turn ended if
    // it ran longer. An early turn counts as its cycle's own: pacing resumes from it.
    cycleStart_ = std::max(start - offset_ + kPeriod, end);

    // A command whose settle time had passed when the turn began is on its screen. A turn with
    // nothing to do also takes it: there is no screen to show it on.
    if (pending_ && *pending_ + kSettle <= start) {
        pending_.reset();
        if (latestCommand_ && *latestCommand_ + kSettle > start) {
            pending_ = latestCommand_;
        }
    }

    if (startCount_ < kMaxPerWindow) {
        starts_[startCount_++] = start;
    } else {
        std::rotate(starts_.begin(), starts_.begin() + 1, starts_.end());
        starts_.back() = start;
    }
    lastStart_ = start;
    lastEnd_ = end;
    lastExchanged_ = exchanged;
}

bool LivePacing::CommandWritten(Clock::time_point at) {
    const Clock::time_point before = NextTurn();
    latestCommand_ = at;
    if (!pending_) {
        pending_ = at;
    }
    return NextTurn() < before;
}

}  // namespace qv
