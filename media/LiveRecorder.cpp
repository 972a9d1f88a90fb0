#include "media/LiveRecorder.h"

#include <algorithm>
#include <system_error>

namespace qv::media {

LiveRecorder::~LiveRecorder() {
    Abort();
}

bool LiveRecorder::Open(const std::string& path, bool replace) {
    Abort();
    if (!mp4Preset.empty()) {
        writer_.mp4Preset = mp4Preset;
    }
    if (!writer_.Open(path, replace)) {
        std::lock_guard hold(lock_);
        error_ = writer_.Error();
        diskFull_ = writer_.DiskFull();
        return false;
    }
    {
        std::lock_guard hold(lock_);
        queue_.clear();
        closing_ = false;
        open_ = true;
        end_ = Clock::time_point::max();
        first_ = {};
        stats_ = {};
        error_.clear();
        diskFull_ = false;
    }
    try {
        thread_ = std::thread(&LiveRecorder::Run, this);
    } catch (const std::system_error& e) {
        writer_.Abort();
        std::lock_guard hold(lock_);
        open_ = false;
        error_ = std::string("cannot start the writer: ") + e.what();
        return false;
    }
    return true;
}

void LiveRecorder::Push(std::span<const std::uint8_t> jpeg, Clock::time_point at) {
    {
        std::lock_guard hold(lock_);
        if (!open_ || closing_ || stats_.failed) {
            return;
        }
        if (queue_.size() >= kQueueFrames) {
            ++stats_.dropped;
            return;
        }
        queue_.push_back({std::vector<std::uint8_t>(jpeg.begin(), jpeg.end()), at});
    }
    changed_.notify_one();
}

void LiveRecorder::Run() {
    Clock::time_point origin{};
    for (;;) {
        Item item;
        {
            std::unique_lock hold(lock_);
            changed_.wait(hold, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;  // closing, and everything before it written
            }
            item = std::move(queue_.front());
            queue_.pop_front();
            if (item.at >= end_ ||
                (limit.count() > 0 && origin != Clock::time_point{} && item.at >= origin + limit)) {
                continue;
            }
        }
        // Times count from the first frame written.
        const bool first = origin == Clock::time_point{};
        const auto ms =
            first ? 0
                  : std::chrono::duration_cast<std::chrono::milliseconds>(item.at - origin).count();
        const auto added = writer_.Add(item.jpeg, ms);
        std::lock_guard hold(lock_);
        if (added == VideoWriter::Added::Failed) {
            stats_.failed = true;
            error_ = writer_.Error();
            diskFull_ = writer_.DiskFull();
            queue_.clear();
            return;
        }
        if (added == VideoWriter::Added::Skipped) {
            ++stats_.skipped;
            continue;
        }
        if (first) {
            origin = item.at;
            first_ = item.at;
        }
        stats_.frames = writer_.Frames();
        stats_.videoMs = ms;
        stats_.bytes = writer_.Bytes();
    }
}

void LiveRecorder::StopThread() {
    {
        std::lock_guard hold(lock_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool LiveRecorder::Finish(Clock::time_point end) {
    {
        std::lock_guard hold(lock_);
        if (!open_) {
            return false;
        }
        end_ = end;
    }
    StopThread();
    // The thread has ended: the writer is this thread's alone now.
    Clock::time_point first{};
    {
        std::lock_guard hold(lock_);
        open_ = false;
        if (stats_.failed || stats_.frames == 0) {
            error_ = stats_.failed ? error_ : "no screen came";
            writer_.Abort();
            return false;
        }
        first = first_;
    }
    if (limit.count() > 0) {
        end = std::min(end, first + limit);
    }
    const auto endMs = std::chrono::duration_cast<std::chrono::milliseconds>(end - first).count();
    const bool finished = writer_.Finish(endMs);
    std::lock_guard hold(lock_);
    if (!finished) {
        error_ = writer_.Error();
        diskFull_ = writer_.DiskFull();
        return false;
    }
    stats_.bytes = writer_.Bytes();
    stats_.videoMs = endMs;
    return true;
}

void LiveRecorder::Abort() {
    StopThread();
    std::lock_guard hold(lock_);
    open_ = false;
    writer_.Abort();
}

LiveRecorder::Stats LiveRecorder::stats() const {
    std::lock_guard hold(lock_);
    return stats_;
}

LiveRecorder::Clock::time_point LiveRecorder::FirstFrameAt() const {
    std::lock_guard hold(lock_);
    return first_;
}

std::string LiveRecorder::Error() const {
    std::lock_guard hold(lock_);
    return error_;
}

bool LiveRecorder::DiskFull() const {
    std::lock_guard hold(lock_);
    return diskFull_;
}

}  // namespace qv::media
