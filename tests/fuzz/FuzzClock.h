// A virtual clock for the fuzz targets and the link's deadline tests: time moves only when
// the fake peer says so. And what every answer a fuzz target receives must be.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "link/Link.h"
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

// Within the answer deadline (a second more for every 4 KB joined), inside the buffer with a
// zero after it, and whole (100) or failed (-1) with one of the link's texts.
inline bool AnswerEndedWell(int result, const std::string& text, const std::uint8_t* data,
                            int length, std::chrono::steady_clock::duration took) {
    if (length < 0 || static_cast<std::size_t>(length) > kMaxAnswerBytes || data[length] != 0 ||
        took > Link::kAnswerDeadline + Link::kGracePerUnit * (length / Link::kGraceBytes)) {
        return false;
    }
    return result == 100 ||
           (result == -1 && (text == "STR_ERROR_TIMEOUT" || text == "STR_ERROR_CHECKSUM" ||
                             text == "STR_ERROR_PACKET" || text == "Communication Error!"));
}

}  // namespace qv::fuzz
