// The one writer of command frames: the window hands it lines, one thread sends them in
// order, so neither the hard-key panel's pause nor a slow link ever holds the window.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qv {

class CommandWriter {
  public:
    // send writes one line and says whether it went out; failed runs after a failed send.
    // pause comes before every send (the hard-key panel's 100 ms, else zero).
    CommandWriter(std::function<bool(const std::string&)> send, std::function<void()> failed,
                  std::chrono::milliseconds pause);
    ~CommandWriter();
    CommandWriter(const CommandWriter&) = delete;
    CommandWriter& operator=(const CommandWriter&) = delete;

    // Past this many lines waiting, new ones are dropped: a stuck link must not grow a
    // backlog that plays out long after the user stopped pressing keys.
    static constexpr std::size_t kMaxWaiting = 64;

    bool Start();
    // A new pause for the lines that follow (tests and benchmarks).
    void SetPause(std::chrono::milliseconds pause);
    // Queues a line; false when stopped or full.
    bool Push(std::string line);
    // Drops what waits, ends the pause at once and joins the thread: bounded by one send.
    void Stop();
    // Waits until every queued line was handed to send (tests and benchmarks).
    bool WaitIdle(std::chrono::milliseconds timeout);

  private:
    void Run();

    std::function<bool(const std::string&)> send_;
    std::function<void()> failed_;
    std::chrono::milliseconds pause_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> waiting_;
    bool stopping_ = false;
    bool busy_ = false;
    std::thread thread_;
};

}  // namespace qv
