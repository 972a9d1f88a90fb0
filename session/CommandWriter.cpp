#include "session/CommandWriter.h"

#include <system_error>

namespace qv {

CommandWriter::CommandWriter(std::function<bool(const std::string&)> send,
                             std::function<void()> failed, std::chrono::milliseconds pause)
    : send_(std::move(send)), failed_(std::move(failed)), pause_(pause) {}

CommandWriter::~CommandWriter() {
    Stop();
}

bool CommandWriter::Start() {
    std::lock_guard hold(lock_);
    if (thread_.joinable()) {
        return true;
    }
    stopping_ = false;
    try {
        thread_ = std::thread(&CommandWriter::Run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CommandWriter::SetPause(std::chrono::milliseconds pause) {
    std::lock_guard hold(lock_);
    pause_ = pause;
}

bool CommandWriter::Push(std::string line) {
    {
        std::lock_guard hold(lock_);
        if (stopping_ || !thread_.joinable() || waiting_.size() >= kMaxWaiting) {
            return false;
        }
        waiting_.push_back(std::move(line));
    }
    changed_.notify_all();
    return true;
}

void CommandWriter::Stop() {
    {
        std::lock_guard hold(lock_);
        stopping_ = true;
        waiting_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool CommandWriter::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock hold(lock_);
    return changed_.wait_for(hold, timeout,
                             [this] { return stopping_ || (waiting_.empty() && !busy_); });
}

void CommandWriter::Run() {
    std::unique_lock hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;
        }
        busy_ = true;
        // The pause belongs to the line at the head; Stop cuts it short.
        if (pause_.count() > 0 && changed_.wait_for(hold, pause_, [this] { return stopping_; })) {
            return;
        }
        std::string line = std::move(waiting_.front());
        waiting_.pop_front();
        hold.unlock();
        const bool sent = send_(line);
        if (!sent && failed_) {
            failed_();
        }
        hold.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace qv
