#include "link/ReaderEvents.h"

namespace qv {

void ReaderEvents::SignalRequest() {
    {
        std::lock_guard lock(lock_);
        request_ = true;
    }
    changed_.notify_all();
}

void ReaderEvents::SignalStop() {
    {
        std::lock_guard lock(lock_);
        stop_ = true;
    }
    changed_.notify_all();
}

void ReaderEvents::Reset() {
    std::lock_guard lock(lock_);
    request_ = false;
    stop_ = false;
}

ReaderEvents::Woken ReaderEvents::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, timeout, [this] { return stop_ || request_; });
    if (stop_) {
        stop_ = false;
        return Woken::Stop;
    }
    if (request_) {
        request_ = false;
        return Woken::Request;
    }
    return Woken::Timeout;
}

}  // namespace qv
