// A SessionView that records what the controller showed, from any thread.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "session/SessionView.h"

namespace qv::test {

class RecordingView : public SessionView {
  public:
    void SetPaneText(int pane, const std::string& text) override {
        std::lock_guard lock(mutex_);
        panes_[pane] = text;
        paneHistory_[pane].push_back(text);
    }
    void SetLinkIcon(int iconId) override {
        std::lock_guard lock(mutex_);
        icon_ = iconId;
    }
    void EnableControl(int id, bool enabled) override {
        std::lock_guard lock(mutex_);
        enabled_[id] = enabled;
    }
    void MessageBox(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }
    void FailureMessage(int reason) override {
        std::lock_guard lock(mutex_);
        messages_.push_back("reason " + std::to_string(reason));
    }
    void StartTimer(int id, int periodMs) override {
        std::lock_guard lock(mutex_);
        timers_[id] = periodMs;
    }
    void KillTimer(int id) override {
        std::lock_guard lock(mutex_);
        timers_.erase(id);
    }
    void Repaint() override {
        std::lock_guard lock(mutex_);
        ++repaints_;
    }

    void Reset() {
        std::lock_guard lock(mutex_);
        panes_.clear();
        paneHistory_.clear();
        enabled_.clear();
        messages_.clear();
        timers_.clear();
        icon_ = 0;
        repaints_ = 0;
    }

    std::string Pane(int pane) const {
        std::lock_guard lock(mutex_);
        const auto it = panes_.find(pane);
        return it == panes_.end() ? std::string() : it->second;
    }
    std::vector<std::string> PaneHistory(int pane) const {
        std::lock_guard lock(mutex_);
        const auto it = paneHistory_.find(pane);
        return it == paneHistory_.end() ? std::vector<std::string>() : it->second;
    }
    bool Enabled(int id) const {
        std::lock_guard lock(mutex_);
        const auto it = enabled_.find(id);
        return it != enabled_.end() && it->second;
    }
    int Icon() const {
        std::lock_guard lock(mutex_);
        return icon_;
    }
    std::vector<std::string> Messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::map<int, int> Timers() const {
        std::lock_guard lock(mutex_);
        return timers_;
    }
    int Repaints() const {
        std::lock_guard lock(mutex_);
        return repaints_;
    }

  private:
    mutable std::mutex mutex_;
    std::map<int, std::string> panes_;
    std::map<int, std::vector<std::string>> paneHistory_;
    std::map<int, bool> enabled_;
    std::vector<std::string> messages_;
    std::map<int, int> timers_;
    int icon_ = 0;
    int repaints_ = 0;
};

}  // namespace qv::test
