#include "session/ScreenLoop.h"

#include <array>
#include <cstdio>

#include "link/CommandSet.h"
#include "session/ActivityLog.h"
#include "session/FrameFile.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAborted = -2;

}  // namespace

ScreenLoop::ScreenLoop(CDevComm& engine, SessionController& session, bool softKey,
                       std::mutex& frameLock)
    : engine_(engine), session_(session), softKey_(softKey), frameLock_(frameLock) {}

ScreenLoop::~ScreenLoop() {
    Stop();
}

bool ScreenLoop::Start() {
    exit_.store(0);
    session_.streaming().store(0);
    try {
        worker_ = std::thread(&ScreenLoop::Loop, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void ScreenLoop::Stop() {
    exit_.store(1);
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool ScreenLoop::Pace(Clock::time_point start) {
    using namespace std::chrono_literals;
    for (;;) {
        if (exit_.load()) {
            return false;
        }
        const auto elapsed = Clock::now() - start;
        if (elapsed > kPeriod) {
            return true;
        }
        // Steps of 50 ms, the last one cut so the cycle ends just past its period.
        std::this_thread::sleep_for(std::min<Clock::duration>(kStep, kPeriod - elapsed + 1ms));
    }
}

void ScreenLoop::Loop() {
    for (;;) {
        const auto t0 = Clock::now();
        if (softKey_) {
            std::this_thread::sleep_for(kSoftKeyOffset);
        }
        if (session_.responseReady().load() == 1 && session_.streaming().load() == 1) {
            RunCycle();
        }
        if (!Pace(t0)) {
            return;
        }
    }
}

int ScreenLoop::UsbExchange() {
    // The USB path does not look at the abort flag: a block read always ends.
    if (engine_.UsbRequestFile(REQ_SCREEN, std::string(kScreenFileName)) != 1) {
        return -1;
    }
    for (;;) {
        const int p = engine_.UsbReceive();
        if (p == -1 || p >= 100) {
            return p;
        }
    }
}

int ScreenLoop::TcpExchange() {
    engine_.RequestFile(kCmdRequest, REQ_SCREEN, std::string(kScreenFileName), kScreenFileSize);
    for (;;) {
        if (session_.abort().load() == 1) {
            return kAborted;
        }
        const int p = engine_.Poll();
        if (p == -1 || p >= 100) {
            return p;
        }
    }
}

void ScreenLoop::Fail(bool tcp) {
    // The soft-key panel writes its TCP line without the line feed.
    const bool lineFeed = !(softKey_ && tcp);
    ActivityLog::Instance().Write("Receive Fail : " + engine_.ErrorText() + (lineFeed ? "\n" : ""));
    engine_.SetConnected(0);
    session_.OnResponseReady(1);
}

void ScreenLoop::RunCycle() {
    if (session_.responseReady().load() == 0) {
        return;
    }
    session_.OnResponseReady(0);
    const auto t1 = Clock::now();
    const bool tcp = session_.ActiveMethod() != kMethodUsb;
    const int result = tcp ? TcpExchange() : UsbExchange();
    if (result == kAborted) {
        session_.OnResponseReady(1);
        return;
    }
    if (result == -1) {
        Fail(tcp);
        return;
    }
    const double seconds =
        static_cast<double>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t1).count()) /
        1000.0;
    std::array<char, 64> line{};
    if (softKey_ && tcp) {
        std::snprintf(line.data(), line.size(), "%.3f, %d", seconds, engine_.GetDataLength());
    } else {
        std::snprintf(line.data(), line.size(), "%.3f", seconds);
    }
    if (softKey_ || tcp) {
        ActivityLog::Instance().Write(line.data());
    }

    int saved = 0;
    {
        std::lock_guard lock(frameLock_);
        saved = FileSaveBinary(session_.FramePath(), engine_.GetData(),
                               static_cast<std::size_t>(engine_.GetDataLength()));
    }
    if (!saved) {
        if (!tcp) {
            ActivityLog::Instance().Write("FileSaveBinary fail");
        }
        session_.OnResponseReady(1);
        return;
    }
    if (draw) {
        draw(session_.FramePath());
    }
    session_.OnResponseReady(1);
    if (tcp && session_.abort().load() == 1 && engine_.IsConnected()) {
        engine_.Disconnect();
    }
}

}  // namespace qv
