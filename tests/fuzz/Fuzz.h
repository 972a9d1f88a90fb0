// What the fuzz targets share: a check that stops the run, the input taken a byte or a run at
// a time, a virtual clock that moves only when the fake peer says so and a peer on it (the
// link's deadline tests use both), the engine they drive, and what every answer must be.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/CDevComm.h"
#include "link/Link.h"
#include "link/LinkClock.h"

namespace qv::fuzz {

inline void Check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

// The input as a peer's script: past its end, no bytes and a zero for every byte asked.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::size_t left() const { return size_ - at_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to n bytes into out; how many there were.
    std::size_t Take(std::size_t n, std::uint8_t* out) {
        n = std::min(n, size_ - at_);
        std::memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class VirtualClock final : public LinkClock {
  public:
    TimePoint Now() override { return now_; }
    void Sleep(std::chrono::milliseconds time) override { now_ += time; }
    void Advance(std::chrono::milliseconds time) { now_ += time; }
    void AdvanceTo(TimePoint t) { now_ = std::max(now_, t); }

  private:
    TimePoint now_ = TimePoint{} + std::chrono::hours(1);
};

// A peer on the link's clock, which moves only when the peer waits: each event's bytes come
// at its time from the request, or the read fails there (a hang-up); a read waits for the
// next event or its window.
class TimedPeer final : public Transport {
  public:
    struct Event {
        std::chrono::milliseconds at;
        std::vector<std::uint8_t> bytes;
        bool hangUp = false;
    };
    TimedPeer(VirtualClock& clock, std::vector<Event> events)
        : clock_(clock), events_(std::move(events)) {}
    int Method() const override { return kMethodTcp; }
    bool IsOpen() const override { return true; }
    int WriteFrame(std::span<const std::uint8_t> frame) override {
        start_ = clock_.Now();
        return static_cast<int>(frame.size());
    }
    int Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) override {
        ++reads;
        const auto limit = clock_.Now() + maxWait;
        if (next_ == events_.size() || start_ + events_[next_].at > limit) {
            clock_.AdvanceTo(limit);
            return 0;
        }
        clock_.AdvanceTo(start_ + events_[next_].at);
        const Event& e = events_[next_++];
        const std::size_t n = std::min(e.bytes.size(), buffer.size());
        std::copy_n(e.bytes.begin(), n, buffer.begin());
        sent.insert(sent.end(), e.bytes.begin(), e.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        return e.hangUp ? -1 : static_cast<int>(n);
    }
    void Close() override {}

    std::vector<std::uint8_t> sent;  // every byte delivered, in order
    int reads = 0;

  private:
    VirtualClock& clock_;
    std::vector<Event> events_;
    std::size_t next_ = 0;
    LinkClock::TimePoint start_{};
};

// One engine for every input, as a long-running program keeps it.
inline CDevComm& Engine() {
    static CDevComm* engine = [] {
        auto* e = new CDevComm;
        e->Init();
        return e;
    }();
    return *engine;
}

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
