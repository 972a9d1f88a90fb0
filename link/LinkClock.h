// Where the link reads the time and sleeps. The program uses the steady clock; tests and the
// fuzz targets hand in a virtual one, so deadlines can be checked without waiting them out.
#pragma once

#include <chrono>

namespace qv {

class LinkClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~LinkClock() = default;
    virtual TimePoint Now() = 0;
    virtual void Sleep(std::chrono::milliseconds time) = 0;

    // The steady clock and real sleeps.
    static LinkClock& Steady();

  protected:
    LinkClock() = default;
    LinkClock(const LinkClock&) = default;
    LinkClock& operator=(const LinkClock&) = default;
};

}  // namespace qv
