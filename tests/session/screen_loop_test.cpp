// The screen loop, the frame file and the key path against the simulated instrument.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>

#include "link/DevOwner.h"
#include "session/ActivityLog.h"
#include "session/FrameFile.h"
#include "session/KeySender.h"
#include "session/ScreenLoop.h"
#include "session/SessionController.h"
#include "sim/SimUsbBackend.h"
#include "tests/link/SimPeer.h"
#include "tests/session/RecordingView.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::uint8_t> Bytes(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
    }
    return out;
}

// A connected session with its screen loop, one per test.
class Streaming : public ::testing::Test {
  protected:
    virtual bool SoftKey() const { return false; }
    void SetUp() override { Open(SoftKey()); }
    void TearDown() override {
        if (loop_) {
            loop_->Stop();
        }
        if (session_) {
            session_->Close(nullptr);
        }
    }

    void Open(bool softKey) {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(peer_.started());
        const QString ini = dir_.filePath("s.ini");
        QSettings s(ini, QSettings::IniFormat);
        s.setValue("Connection/Method", 1);
        s.setValue("Connection/IP", "127.0.0.1");
        s.sync();
        store_ = std::make_unique<SettingsStore>(ini.toStdString());
        engine_.SetPort(peer_.server.port());
        session_ = std::make_unique<SessionController>(
            engine_, *store_, view_, softKey ? PanelTraits::SoftKey() : PanelTraits::HardKey(),
            nullptr);
        session_->logFolder = dir_.path().toStdString();
        session_->sleep = [](std::chrono::milliseconds) {};
        session_->Create();
        session_->ConnectNow();
        ASSERT_EQ(view_.Pane(1), "Connected");
        loop_ = std::make_unique<ScreenLoop>(engine_, *session_, softKey, frameLock_);
        loop_->draw = [this](const std::string&) {
            ++drawn_;
            return true;
        };
    }

    std::vector<sim::SimClock::time_point> ScreenRequests() {
        std::vector<sim::SimClock::time_point> out;
        for (const auto& r : peer_.server.instrument().Requests()) {
            if (r.code == REQ_SCREEN) {
                out.push_back(r.at);
            }
        }
        return out;
    }

    std::string Log() const { return ReadFile(ActivityLog::Instance().Path()); }

    QTemporaryDir dir_;
    SimPeer peer_{kLoopV4};
    CDevComm engine_;
    RecordingView view_;
    std::unique_ptr<SettingsStore> store_;
    std::unique_ptr<SessionController> session_;
    std::unique_ptr<ScreenLoop> loop_;
    std::mutex frameLock_;
    std::atomic<int> drawn_{0};
};

TEST_F(Streaming, StreamsOnlyBetweenStartAndStop) {
    ASSERT_TRUE(loop_->Start());
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(ScreenRequests().empty()) << "nothing is asked before Start";
    session_->Start();
    const auto until = Clock::now() + 5s;
    while (drawn_.load() < 3 && Clock::now() < until) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(drawn_.load(), 3);
    session_->Stop();
    std::this_thread::sleep_for(200ms);  // a cycle already running completes
    const std::size_t asked = ScreenRequests().size();
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(ScreenRequests().size(), asked);
    // The rendered screen reached the frame file whole.
    EXPECT_EQ(ReadFile(session_->FramePath()).substr(0, 2), "\xFF\xD8");
}

TEST_F(Streaming, PacingFollowsTheExchangeTime) {
    peer_.server.instrument().SetScreenOverride(Bytes(20000));
    ASSERT_TRUE(loop_->Start());
    session_->Start();
    std::this_thread::sleep_for(2300ms);
    auto fast = ScreenRequests();
    ASSERT_GE(fast.size(), 4u);
    for (std::size_t i = 1; i < fast.size(); ++i) {
        const auto gap = fast[i] - fast[i - 1];
        EXPECT_GT(gap, 480ms);
        EXPECT_LT(gap, 700ms);
    }
    // An exchange of about 0.75 s is followed at once by the next.
    sim::SimFaults slow;
    slow.frameDelayMs = 150;  // five frames
    peer_.server.instrument().SetFaults(slow);
    peer_.server.instrument().ClearRecords();
    std::this_thread::sleep_for(3500ms);
    auto slowStarts = ScreenRequests();
    ASSERT_GE(slowStarts.size(), 3u);
    for (std::size_t i = 2; i < slowStarts.size(); ++i) {
        const auto gap = slowStarts[i] - slowStarts[i - 1];
        EXPECT_GT(gap, 700ms);
        EXPECT_LT(gap, 1000ms);
    }
}

TEST_F(Streaming, LargestReplyIsWrittenWhole) {
    const auto bytes = Bytes(kMaxAnswerBytes);
    peer_.server.instrument().SetScreenOverride(bytes);
    session_->Start();
    loop_->RunCycle();
    EXPECT_EQ(drawn_.load(), 1);
    const std::string file = ReadFile(session_->FramePath());
    ASSERT_EQ(file.size(), bytes.size());
    EXPECT_TRUE(
        std::equal(bytes.begin(), bytes.end(), reinterpret_cast<const std::uint8_t*>(file.data())));
    EXPECT_NE(Log().find("0."), std::string::npos) << "the timing line";
    EXPECT_EQ(session_->responseReady().load(), 1);
}

TEST_F(Streaming, AbortEndsTheExchangeAndDrawsNothing) {
    sim::SimFaults slow;
    slow.frameDelayMs = 300;
    peer_.server.instrument().SetFaults(slow);
    peer_.server.instrument().SetScreenOverride(Bytes(20000));
    session_->Start();
    std::thread cycle([&] { loop_->RunCycle(); });
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    session_->abort().store(1);
    cycle.join();
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(drawn_.load(), 0);
    EXPECT_EQ(session_->responseReady().load(), 1);
}

TEST_F(Streaming, ReceiveFailureMarksTheLinkAndStreamingResumesAfterConnect) {
    sim::SimFaults silent;
    silent.silent = true;
    peer_.server.instrument().SetFaults(silent);
    session_->Start();
    loop_->RunCycle();
    EXPECT_EQ(engine_.IsConnected(), 0);
    EXPECT_EQ(session_->responseReady().load(), 1);
    EXPECT_NE(Log().find("Receive Fail : STR_ERROR_TIMEOUT\n\r\n"), std::string::npos);
    session_->OnTimer(200);
    EXPECT_EQ(view_.Pane(1), "Disconnected");
    EXPECT_EQ(session_->streaming().load(), 1);

    peer_.server.instrument().SetFaults({});
    session_->ConnectNow();
    ASSERT_EQ(view_.Pane(1), "Connected");
    ASSERT_TRUE(loop_->Start());
    session_->streaming().store(1);  // as before the failure; no new Start
    const auto until = Clock::now() + 3s;
    while (drawn_.load() < 1 && Clock::now() < until) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(drawn_.load(), 1);
}

TEST_F(Streaming, KeysDuringScreensArriveInOrderAndLeaveScreensIntact) {
    peer_.server.instrument().SetScreenOverride(Bytes(150000));
    KeySender keys(engine_, *session_, false);
    keys.sleep = [](std::chrono::milliseconds) {};
    session_->Start();
    std::atomic<bool> stop{false};
    std::thread screens([&] {
        while (!stop.load()) {
            loop_->RunCycle();
        }
    });
    for (int i = 0; i < 100; ++i) {
        keys.SendKey(i % 2 ? "KEYP:RIGH" : "KEYP:NUM" + std::to_string(i % 10));
    }
    ASSERT_TRUE(peer_.server.instrument().WaitForCommands(100, 5s));
    // The keys may all be out before the first screen is drawn.
    const auto until = Clock::now() + 5s;
    while (drawn_.load() < 1 && Clock::now() < until) {
        std::this_thread::sleep_for(10ms);
    }
    stop = true;
    screens.join();
    const auto commands = peer_.server.instrument().Commands();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(commands[static_cast<std::size_t>(i)].text,
                  i % 2 ? "KEYP:RIGHT" : "KEYP:NUM" + std::to_string(i % 10));
    }
    EXPECT_GT(drawn_.load(), 0);
    EXPECT_EQ(Log().find("Receive Fail"), std::string::npos);
    EXPECT_EQ(engine_.IsConnected(), 1);
}

// Over USB: the same loop and key path through the simulator's USB personality.
class UsbStreaming : public ::testing::TestWithParam<bool> {
  protected:
    struct Forward : DevOwner {
        SessionController* session = nullptr;
        void OnResponseReady(int flag) override { session->OnResponseReady(flag); }
    };
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const QString ini = dir_.filePath("s.ini");
        QSettings s(ini, QSettings::IniFormat);
        s.setValue("Connection/Method", 2);
        s.sync();
        store_ = std::make_unique<SettingsStore>(ini.toStdString());
        usb_.SetReadTimeout(300ms);
        engine_.SetUsbBackend(&usb_);
        const bool soft = GetParam();
        session_ = std::make_unique<SessionController>(
            engine_, *store_, view_, soft ? PanelTraits::SoftKey() : PanelTraits::HardKey(),
            &owner_);
        owner_.session = session_.get();
        session_->logFolder = dir_.path().toStdString();
        session_->sleep = [](std::chrono::milliseconds) { std::this_thread::sleep_for(5ms); };
        session_->Create();
        session_->ConnectNow();
        ASSERT_EQ(view_.Pane(1), "Connected");
        loop_ = std::make_unique<ScreenLoop>(engine_, *session_, soft, frameLock_);
        loop_->draw = [this](const std::string&) {
            ++drawn_;
            return true;
        };
    }
    void TearDown() override {
        session_->Close(nullptr);
        engine_.CloseUsb();
    }
    std::string Log() const { return ReadFile(ActivityLog::Instance().Path()); }

    QTemporaryDir dir_;
    sim::SimInstrument instrument_;
    sim::SimUsbBackend usb_{instrument_};
    Forward owner_;
    CDevComm engine_;
    RecordingView view_;
    std::unique_ptr<SettingsStore> store_;
    std::unique_ptr<SessionController> session_;
    std::unique_ptr<ScreenLoop> loop_;
    std::mutex frameLock_;
    std::atomic<int> drawn_{0};
};

TEST_P(UsbStreaming, FramesAndKeysThenAFailure) {
    const bool soft = GetParam();
    const auto screen = Bytes(150000);
    instrument_.SetScreenOverride(screen);
    KeySender keys(engine_, *session_, soft);
    keys.sleep = [](std::chrono::milliseconds) {};
    session_->Start();
    std::atomic<bool> stop{false};
    std::thread screens([&] {
        while (!stop.load()) {
            loop_->RunCycle();
        }
    });
    for (int i = 0; i < 20; ++i) {
        keys.SendKey("KEYP:NUM" + std::to_string(i % 10));
    }
    ASSERT_TRUE(instrument_.WaitForCommands(20, 5s));
    const auto until = Clock::now() + 5s;
    while (drawn_.load() < 2 && Clock::now() < until) {
        std::this_thread::sleep_for(10ms);
    }
    stop = true;
    screens.join();
    EXPECT_GE(drawn_.load(), 2);
    const std::string frame = ReadFile(session_->FramePath());
    EXPECT_EQ(frame.size(), screen.size());
    EXPECT_TRUE(frame == std::string(screen.begin(), screen.end()));
    std::string log = Log();
    EXPECT_EQ(log.find("Receive Fail"), std::string::npos);
    EXPECT_EQ(log.find("Send REQ_CMD Error"), std::string::npos);
    // Only the soft-key panel writes the USB timing line, without the frame's length.
    const auto timing = log.find(", 150000");
    EXPECT_EQ(timing, std::string::npos);
    EXPECT_EQ(std::regex_search(log, std::regex("   [0-9]+\\.[0-9]{3}\r\n")), soft);

    // A device that stops answering: the cycle fails and marks the link.
    sim::SimUsbFaults stall;
    stall.stallRead = true;
    usb_.SetFaults(stall);
    loop_->RunCycle();
    EXPECT_EQ(engine_.IsConnected(), 0);
    EXPECT_EQ(session_->responseReady().load(), 1);
    EXPECT_NE(Log().find("Receive Fail : STR_ERROR_PACKET\n"), std::string::npos);

    // A device gone: the send fails and is logged.
    engine_.SetConnected(1);
    engine_.CloseUsb();
    keys.SendKey("KEYP:MARK");
    EXPECT_NE(Log().find("Send REQ_CMD Error"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Panels, UsbStreaming, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SoftKey" : "HardKey"; });

TEST_F(Streaming, KeyLogLinesOfBothPanels) {
    KeySender hard(engine_, *session_, false);
    hard.sleep = [](std::chrono::milliseconds) {};
    KeySender soft(engine_, *session_, true);
    hard.SendKey("KEYP:RIGH");
    soft.SendKey("KEYP:RIGH");
    soft.SendKey(std::string(kKeyboardCommand));
    ASSERT_TRUE(peer_.server.instrument().WaitForCommands(3, 2s));
    const auto commands = peer_.server.instrument().Commands();
    EXPECT_EQ(commands[0].text, "KEYP:RIGHT");
    EXPECT_EQ(commands[1].text, "KEYP:RIGH");
    EXPECT_EQ(commands[2].text, "SAVE:KEYP:STRS [QVRemote]");
    const std::string log = Log();
    EXPECT_NE(log.find("   KEYP:RIGHT\r\n"), std::string::npos);
    EXPECT_NE(log.find("   KEYP:RIGH\n\r\n"), std::string::npos);
}

TEST(FrameFile, ReplacesAPlantedLinkInsteadOfFollowingIt) {
    QTemporaryDir dir;
    const std::string victim = dir.filePath("victim").toStdString();
    const std::string frame = dir.filePath("frame.jpg").toStdString();
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::symlink(victim.c_str(), frame.c_str()), 0);
    const auto bytes = Bytes(1000);
    ASSERT_EQ(FileSaveBinary(frame, bytes.data(), bytes.size()), 1);
    EXPECT_EQ(ReadFile(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat(frame.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(frame).size(), 1000u);
    // An empty reply makes an empty file; a folder that is not there, none.
    EXPECT_EQ(FileSaveBinary(frame, nullptr, 0), 1);
    EXPECT_EQ(ReadFile(frame).size(), 0u);
    EXPECT_EQ(FileSaveBinary(dir.filePath("no/such/frame.jpg").toStdString(), bytes.data(), 10), 0);
    // No temporary files are left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 2);
}

struct TouchCase {
    const char* name;
    bool softKey;
    int scale;
    bool hideKeys;
    int x, y;
    const char* expected;  // empty: nothing sent
};

void PrintTo(const TouchCase& c, std::ostream* os) {
    *os << c.name;
}

// The simulator's model is a touch model of the soft-key line.
class SoftStreaming : public Streaming {
  protected:
    bool SoftKey() const override { return true; }
};

class Touches : public SoftStreaming, public ::testing::WithParamInterface<TouchCase> {};

TEST_P(Touches, MapClicksToCommands) {
    const TouchCase& c = GetParam();
    KeySender keys(engine_, *session_, c.softKey);
    session_->Start();
    // The soft-key screen sits at (41, 39); the hard-key frame at (111, 25) unless hidden.
    // The drawn frame: 800 x 600, 680 x 510, 559 x 419.
    constexpr int kWidth[] = {800, 680, 559};
    constexpr int kHeight[] = {600, 510, 419};
    const ScreenRect soft{41, 39, 41 + kWidth[c.scale], 39 + kHeight[c.scale]};
    const ScreenRect hard = c.hideKeys ? ScreenRect{0, 0, 800, 480} : ScreenRect{111, 25, 911, 505};
    const auto touch = keys.Touch(c.x, c.y, c.softKey ? soft : hard, c.scale, c.hideKeys);
    if (*c.expected == '\0') {
        EXPECT_FALSE(touch.has_value()) << *touch;
    } else {
        ASSERT_TRUE(touch.has_value());
        EXPECT_EQ(*touch, c.expected);
    }
}

const TouchCase kTouches[] = {
    {"SoftFullScale", true, 0, false, 41 + 400, 39 + 300, "KEYP 400,300"},
    // 0.85 in single precision lies just above 0.85: 340 / 0.85f is 399.99998.
    {"Soft085", true, 1, false, 41 + 340, 39 + 255, "KEYP 399,299"},
    {"Soft085Centre", true, 1, false, 41 + 341, 39 + 256, "KEYP 401,301"},
    // The 70 % frame is 559 wide: its last column is 558.
    {"Soft070LastColumn", true, 2, false, 41 + 558, 39, "KEYP 797,0"},
    {"Soft070RightEdgeOutside", true, 2, false, 41 + 559, 39, ""},
    {"Soft070Truncates", true, 2, false, 41 + 7, 39 + 7, "KEYP 10,10"},
    {"SoftRightEdgeOutside", true, 2, false, 41 + 560, 39 + 10, ""},
    {"SoftBottomEdgeOutside", true, 0, false, 41 + 10, 39 + 600, ""},
    {"SoftLeftOfScreen", true, 0, false, 40, 100, ""},
    {"HardOffsets", false, 0, false, 111 + 5, 25 + 6, "KEYP 5,6"},
    {"HardHiddenKeys", false, 0, true, 30, 40, "KEYP 30,40"},
    {"HardRightEdgeOutside", false, 0, false, 911, 100, ""},
};

INSTANTIATE_TEST_SUITE_P(Clicks, Touches, ::testing::ValuesIn(kTouches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TouchClamp, FarClicksAreHeldToTheScreen) {
    // At 70 % a click 560 px right of the left edge is x 800, 561 px would be 801 → 800.
    const ScreenRect wide{0, 0, 2000, 2000};
    EXPECT_EQ(KeySender::SoftKeyTouch(560, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(KeySender::SoftKeyTouch(561, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(KeySender::SoftKeyTouch(0, 421, wide, 2), "KEYP 0,600");
}

TEST_F(SoftStreaming, TouchesNeedStreamingAndATouchModel) {
    KeySender keys(engine_, *session_, true);
    const ScreenRect r{0, 0, 800, 600};
    EXPECT_FALSE(keys.Touch(10, 10, r, 0, false)) << "not streaming";
    session_->Start();
    EXPECT_TRUE(keys.Touch(10, 10, r, 0, false));
    engine_.SetConnected(0);
    EXPECT_FALSE(keys.Touch(10, 10, r, 0, false)) << "not connected";
    engine_.SetConnected(1);
    peer_.server.instrument().SetModel("QV381A");  // no touch screen
    session_->Disconnect();
    session_->ConnectNow();
    session_->Start();
    EXPECT_FALSE(keys.Touch(10, 10, r, 0, false)) << "model without touch";
}

}  // namespace
}  // namespace qv::test
