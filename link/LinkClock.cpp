#include "link/LinkClock.h"

#include <thread>

namespace qv {
namespace {

class SteadyClock final : public LinkClock {
  public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    void Sleep(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
};

}  // namespace

LinkClock& LinkClock::Steady() {
    static SteadyClock clock;
    return clock;
}

}  // namespace qv
