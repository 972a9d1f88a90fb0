// Screens of a live session written to a video file as they arrive. The frames wait in a
// short queue and a thread of the recorder's own writes them, so the screen loop that pushes
// them never waits on the disk or the encoder. Each frame is shown from the moment it came:
// a gap in the stream (a link that healed) is the frame before it, held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "media/VideoWriter.h"

namespace qv::media {

class LiveRecorder {
  public:
    using Clock = std::chrono::steady_clock;
    // Frames that may wait for the writer; more are dropped (and counted) rather than wait.
    static constexpr std::size_t kQueueFrames = 64;

    LiveRecorder() = default;
    ~LiveRecorder();
    LiveRecorder(const LiveRecorder&) = delete;
    LiveRecorder& operator=(const LiveRecorder&) = delete;

    // Starts the file (VideoWriter::Open) and the writing thread. False with Error() set.
    bool Open(const std::string& path, bool replace);
    // Any thread: a whole screen that arrived at `at`. Copies it and returns at once.
    void Push(std::span<const std::uint8_t> jpeg, Clock::time_point at);
    // Takes no more frames; writes those that came before end, the last shown until end,
    // and puts the file in place. False (Error() set, nothing left behind) when it could
    // not, or when no frame came.
    bool Finish(Clock::time_point end);
    // Ends unwritten: the temporary file is removed.
    void Abort();

    struct Stats {
        int frames = 0;   // written
        int dropped = 0;  // the queue was full
        int skipped = 0;  // not whole JPEGs
        std::uint64_t bytes = 0;
        std::int64_t videoMs = 0;  // from the first frame to the last written
        bool failed = false;       // the file cannot go on; Finish will fail
    };
    Stats stats() const;
    // When the first frame written came; Clock::time_point{} before.
    Clock::time_point FirstFrameAt() const;
    std::string Error() const;
    bool DiskFull() const;

    // The H.264 preset (before Open).
    std::string mp4Preset;
    // The longest video (0: no limit): frames that come later after the first are not
    // written, and Finish ends the video there at the latest. Before Open.
    std::chrono::milliseconds limit{0};

  private:
    struct Item {
        std::vector<std::uint8_t> jpeg;
        Clock::time_point at;
    };
    void Run();
    void StopThread();

    VideoWriter writer_;
    std::thread thread_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Item> queue_;     // under lock_
    bool closing_ = false;       // under lock_
    bool open_ = false;          // under lock_
    Clock::time_point end_{};    // under lock_: frames at or after it are not written
    Clock::time_point first_{};  // under lock_
    Stats stats_;                // under lock_
    std::string error_;          // under lock_
    bool diskFull_ = false;      // under lock_
};

}  // namespace qv::media
