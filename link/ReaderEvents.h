// The reader thread's two auto-reset events: a request to receive one answer, and stop.
// A wait consumes the event it reports; stop wins when both are set.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qv {

class ReaderEvents {
  public:
    enum class Woken { Stop, Request, Timeout };

    void SignalRequest();
    void SignalStop();
    // Clears both, for a fresh reader.
    void Reset();
    Woken Wait(std::chrono::milliseconds timeout);

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool request_ = false;
    bool stop_ = false;
};

}  // namespace qv
