// A virtual clock for the fuzz targets and the link's deadline tests: time moves only when
// the fake peer says so.
#pragma once

#include <algorithm>

#include "link/LinkClock.h"

namespace qv::fuzz {

class VirtualClock final : public LinkClock {
  public:
    TimePoint Now() override { return now_; }
    void Sleep(std::chrono::milliseconds time) override { now_ += time; }
    void Advance(std::chrono::milliseconds time) { now_ += time; }
    void AdvanceTo(TimePoint t) { now_ = std::max(now_, t); }

  private:
    TimePoint now_ = TimePoint{} + std::chrono::hours(1);
};

}  // namespace qv::fuzz
