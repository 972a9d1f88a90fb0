#include "session/ScreenLoop.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/CommandSet.h"
#include "session/ActivityLog.h"
#include "session/FrameFile.h"
#include "session/SessionController.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAborted = -2;

}  // namespace

ScreenLoop::ScreenLoop(CDevComm& engine, SessionController& session, FrameFile& frames,
                       bool softKey)
    : engine_(engine),
      session_(session),
      frames_(frames),
      softKey_(softKey),
      pacing_(softKey, Clock::now()) {}

ScreenLoop::~ScreenLoop() {
    RequestExit();
    Join();
}

bool ScreenLoop::Start() {
    {
        std::lock_guard hold(exitLock_);
        exit_ = false;
        ended_ = false;
        // The first cycle begins now, whatever the rate.
        const LiveRate rate = pacing_.rate();
        pacing_ = LivePacing(softKey_, Clock::now());
        pacing_.SetRate(rate);
    }
    try {
        worker_ = std::thread(&ScreenLoop::Loop, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void ScreenLoop::RequestExit() {
    {
        std::lock_guard hold(exitLock_);
        exit_ = true;
    }
    exitChanged_.notify_all();
}

bool ScreenLoop::WaitEnded(std::chrono::milliseconds timeout) {
    std::unique_lock hold(exitLock_);
    return !worker_.joinable() || exitChanged_.wait_for(hold, timeout, [this] { return ended_; });
}

void ScreenLoop::Join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void ScreenLoop::SetRate(LiveRate rate) {
    {
        std::lock_guard hold(exitLock_);
        pacing_.SetRate(rate);
        paceChanged_ = true;
    }
    exitChanged_.notify_all();
}

LiveRate ScreenLoop::rate() const {
    std::lock_guard hold(exitLock_);
    return pacing_.rate();
}

void ScreenLoop::CommandWritten() {
    {
        std::lock_guard hold(exitLock_);
        if (!pacing_.CommandWritten(Clock::now())) {
            return;
        }
        paceChanged_ = true;
    }
    exitChanged_.notify_all();
}

int ScreenLoop::EarlyExchanges() const {
    std::lock_guard hold(exitLock_);
    return earlyExchanges_;
}

bool ScreenLoop::WaitForTurn() {
    std::unique_lock hold(exitLock_);
    for (;;) {
        if (exit_) {
            return false;
        }
        const auto next = pacing_.NextTurn();
        if (Clock::now() >= next) {
            return true;
        }
        paceChanged_ = false;
        exitChanged_.wait_until(hold, next, [this] { return exit_ || paceChanged_; });
    }
}

void ScreenLoop::Loop() {
    while (WaitForTurn()) {
        const auto start = Clock::now();
        const bool up = session_.LinkUp();
        if (up && !linkWasUp_) {
            lastExchange_ = start;  // the connect has just exchanged
        }
        linkWasUp_ = up;
        bool exchanged = false;
        if (session_.Streaming() && up) {
            exchanged = RunCycle();
        } else if (up && session_.IdleChecks() &&
                   start - lastExchange_ >= session_.idleCheckPeriod) {
            IdleCheck();
        }
        std::lock_guard hold(exitLock_);
        if (exchanged && pacing_.IsEarly(start)) {
            ++earlyExchanges_;
        }
        pacing_.TurnDone(start, Clock::now(), exchanged);
    }
    std::lock_guard hold(exitLock_);
    ended_ = true;
    exitChanged_.notify_all();
}

int ScreenLoop::Exchange(const LinkFrame& request, bool tcp) {
    // Ends within the answer deadline whatever arrives, at once when the link is closed. Over
    // TCP the abort flag also ends it; the USB path does not look at the flag.
    const std::atomic<int>* abort = tcp ? &session_.abort() : nullptr;
    const int result = engine_.link().Exchange(request, answer_, engine_.AnswerDeadline(), abort);
    // A receive that failed because the link was closed under it is the abort, not a fault.
    if (result == kAnswerAborted || (abort != nullptr && result == -1 && abort->load() == 1)) {
        return kAborted;
    }
    return result;
}

void ScreenLoop::Fail(bool tcp) {
    // The soft-key panel writes its TCP line without the line feed.
    const bool lineFeed = !(softKey_ && tcp);
    ActivityLog::Instance().Write("Receive Fail : " + answer_.error + (lineFeed ? "\n" : ""));
    // The watchdog sees the lost link within its period.
    engine_.SetConnected(0);
}

void ScreenLoop::IdleCheck() {
    lastExchange_ = Clock::now();
    const bool tcp = session_.ActiveMethod() != kMethodUsb;
    const int result = Exchange(RequestFrame(REQ_EQINFO), tcp);
    if (result == 100 || result == kAborted) {
        return;
    }
    ActivityLog::Instance().Write("Idle check failed : " + answer_.error);
    // The watchdog takes it from here, as for a failed screen.
    engine_.SetConnected(0);
}

void ScreenLoop::Record(int exchangeMs) {
    std::lock_guard hold(statsLock_);
    samples_[sampleNext_] = Sample{Clock::now(), exchangeMs};
    sampleNext_ = (sampleNext_ + 1) % kSamples;
    sampleCount_ = std::min(sampleCount_ + 1, kSamples);
}

ScreenLoop::Health ScreenLoop::HealthOver(std::chrono::milliseconds window) const {
    const auto now = Clock::now();
    std::array<int, kSamples> times{};
    Health h;
    std::lock_guard hold(statsLock_);
    for (std::size_t i = 0; i < sampleCount_; ++i) {
        const Sample& sample = samples_[(sampleNext_ + kSamples - 1 - i) % kSamples];
        if (i == 0) {
            h.lastAgeS = std::chrono::duration<double>(now - sample.at).count();
        }
        if (now - sample.at > window) {
            break;
        }
        times[static_cast<std::size_t>(h.frames++)] = sample.ms;
    }
    if (h.frames > 0) {
        const auto end = times.begin() + h.frames;
        const auto mid = times.begin() + h.frames / 2;
        std::nth_element(times.begin(), mid, end);
        h.medianMs = *mid;
        h.fps = h.frames / std::chrono::duration<double>(window).count();
    }
    return h;
}

std::string ScreenLoop::HealthText(std::chrono::milliseconds window) const {
    const Health h = HealthOver(window);
    std::array<char, 32> median{}, age{};
    std::array<char, 96> text{};
    std::snprintf(median.data(), median.size(), "%d ms", h.medianMs);
    std::snprintf(age.data(), age.size(), "%.1f s", h.lastAgeS);
    std::snprintf(text.data(), text.size(), "%.1f fps \u00b7 %s \u00b7 %s", h.fps,
                  h.medianMs < 0 ? kNoHealth.data() : median.data(),
                  h.lastAgeS < 0 ? kNoHealth.data() : age.data());
    return text.data();
}

bool ScreenLoop::RunCycle() {
    static const FileEntry kScreenEntry = *BuildFileEntry(kScreenFileName, kScreenFileSize);
    const auto t1 = Clock::now();
    // The log lines differ by link; the exchange does not.
    const bool tcp = session_.ActiveMethod() != kMethodUsb;
    lastExchange_ = t1;
    const int result = Exchange(RequestFrame(REQ_SCREEN, kScreenEntry), tcp);
    if (result == kAborted) {
        return true;
    }
    if (result == -1) {
        Fail(tcp);
        return true;
    }
    const auto exchangeMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t1).count());
    const double seconds = static_cast<double>(exchangeMs) / 1000.0;
    std::array<char, 64> line{};
    if (softKey_ && tcp) {
        std::snprintf(line.data(), line.size(), "%.3f, %zu", seconds, answer_.length());
    } else {
        std::snprintf(line.data(), line.size(), "%.3f", seconds);
    }
    if (softKey_ || tcp) {
        ActivityLog::Instance().Write(line.data());
    }

    if (sink) {
        sink({answer_.data(), answer_.length()});
    }
    std::string path;
    if (frames_.Save(answer_.data(), answer_.length(), path) == 0) {
        if (!tcp) {
            ActivityLog::Instance().Write("FileSaveBinary fail");
        }
        return true;
    }
    if (!draw || draw(path)) {
        Record(exchangeMs);
    }
    if (tcp && session_.abort().load() == 1 && engine_.IsConnected()) {
        engine_.Disconnect();
    }
    return true;
}

}  // namespace qv
