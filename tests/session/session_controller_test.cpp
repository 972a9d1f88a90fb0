// The session controller against the simulated instrument over loopback.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <fstream>
#include <regex>
#include <sstream>

#include "link/DevOwner.h"
#include "link/ModelTable.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"
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

// Lines of the activity log without their time stamps.
std::vector<std::string> LogMessages() {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(ActivityLog::Instance().Path()));
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 22) {
            out.push_back(line.substr(22, line.size() - 23));  // stamp, three spaces; CR
        }
    }
    return out;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ini_ = dir_.filePath("settings.ini").toStdString();
    }
    void TearDown() override { ActivityLog::Instance().Close(); }

    void Store(int method, const std::string& ip, const std::string& ipv6, int quality = 0) {
        QSettings s(QString::fromStdString(ini_), QSettings::IniFormat);
        s.beginGroup("Connection");
        s.setValue("Method", method);
        s.setValue("IP", QString::fromStdString(ip));
        s.setValue("IPV6", QString::fromStdString(ipv6));
        s.setValue("Quality", quality);
        s.endGroup();
        s.sync();
    }

    std::unique_ptr<SessionController> Make(PanelTraits traits, std::uint16_t port) {
        store_ = std::make_unique<SettingsStore>(ini_);
        engine_.SetPort(port);
        auto c = std::make_unique<SessionController>(engine_, *store_, view_, std::move(traits),
                                                     nullptr);
        c->logFolder = dir_.path().toStdString();
        c->sleep = [](std::chrono::milliseconds) {};
        c->Create();
        return c;
    }

    QTemporaryDir dir_;
    std::string ini_;
    std::unique_ptr<SettingsStore> store_;
    CDevComm engine_;
    RecordingView view_;
};

TEST_F(SessionTest, TcpConnectsBothFamilies) {
    for (const Loopback& loop : {kLoopV4, kLoopV6}) {
        SCOPED_TRACE(Name(loop));
        SimPeer peer(loop);
        if (!peer.started()) {
            continue;
        }
        Store(loop.ipv6 ? 3 : 1, "127.0.0.1", "::1");
        auto c = Make(PanelTraits::SoftKey(), peer.server.port());
        const std::string prefix = loop.ipv6 ? "TCP(IPv6)" : "TCP";
        EXPECT_EQ(view_.Pane(3), loop.ipv6 ? "IPv6 : ::1" : "TCP/IP : 127.0.0.1");
        EXPECT_EQ(view_.Pane(1), "Disconnected");
        c->ConnectNow();
        EXPECT_EQ(LogMessages(), (std::vector<std::string>{prefix + " Request Ret : 7 ",
                                                           prefix + " Connected, Load Equp"}));
        EXPECT_EQ(view_.Messages(), std::vector<std::string>{"Connected"});
        EXPECT_EQ(view_.Pane(1), "Connected");
        EXPECT_EQ(view_.Icon(), ids::kIconConnected);
        EXPECT_FALSE(view_.Enabled(ids::kCmdConnect));
        EXPECT_TRUE(view_.Enabled(ids::kCmdDisconnect));
        EXPECT_TRUE(view_.Enabled(ids::kCmdStart));
        EXPECT_FALSE(view_.Enabled(ids::kCmdStop));
        EXPECT_EQ(view_.Timers(), (std::map<int, int>{{ids::kTimerWatchdog, 100}}));
        EXPECT_EQ(c->ModelKind(), kModelKindTouch);  // the simulator's QV392B
        EXPECT_EQ(c->responseReady().load(), 1);
        EXPECT_EQ(c->abort().load(), 0);
        c->Disconnect();
        c->Close(nullptr);
        view_.Reset();
    }
}

struct FailureCase {
    const char* name;
    bool softKey;
    int method;
    bool silent;  // the instrument listens but never answers
    std::vector<std::string> log;
    std::string message;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class SessionFailures : public SessionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SessionFailures, LogMessageAndState) {
    const FailureCase& fc = GetParam();
    SimPeer peer(fc.method == 3 ? kLoopV6 : kLoopV4);
    if (!peer.started()) {
        GTEST_SKIP() << "no loopback of this family";
    }
    std::uint16_t port = peer.server.port();
    if (fc.silent) {
        peer.server.instrument().SetFaults([] {
            sim::SimFaults f;
            f.silent = true;
            return f;
        }());
    } else {
        peer.server.Stop();  // nobody listens
    }
    Store(fc.method, "127.0.0.1", "::1");
    auto c = Make(fc.softKey ? PanelTraits::SoftKey() : PanelTraits::HardKey(), port);
    c->ConnectNow();
    EXPECT_EQ(LogMessages(), fc.log);
    EXPECT_EQ(view_.Messages(), std::vector<std::string>{fc.message});
    EXPECT_EQ(view_.Pane(1), "Disconnected");
    EXPECT_EQ(view_.Icon(), ids::kIconDisconnected);
    EXPECT_TRUE(view_.Enabled(ids::kCmdConnect));
    EXPECT_FALSE(view_.Enabled(ids::kCmdStart));
    EXPECT_TRUE(view_.Timers().empty());
    EXPECT_EQ(engine_.IsConnected(), 0);
}

const FailureCase kFailures[] = {
    {"TcpRefused", false, 1, false, {"TCP Connection Failed"}, "reason 1"},
    {"Ipv6RefusedHardKey", false, 3, false, {"TCP(IPv6) Connection Failed"}, "reason 1"},
    // The soft-key panel reacts to a failed IPv6 connect as the hard-key panel does.
    {"Ipv6RefusedSoftKey", true, 3, false, {"TCP(IPv6) Connection Failed"}, "reason 1"},
    {"TcpSilent",
     false,
     1,
     true,
     {"TCP Request Ret : 7 ", "TCP EqupInfo Failed : STR_ERROR_TIMEOUT"},
     "reason 3"},
    {"Ipv6Silent",
     true,
     3,
     true,
     {"TCP(IPv6) Request Ret : 7 ", "TCP(IPv6) EqupInfo Failed : STR_ERROR_TIMEOUT"},
     "reason 3"},
};

INSTANTIATE_TEST_SUITE_P(Sim, SessionFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionTest, ConnectRunsOffTheCallerAndOnlyOnce) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    sim::SimFaults slow;
    slow.frameDelayMs = 300;
    peer.server.instrument().SetFaults(slow);
    Store(1, "127.0.0.1", "::1");
    auto c = Make(PanelTraits::HardKey(), peer.server.port());
    const auto start = Clock::now();
    ASSERT_TRUE(c->Connect());
    EXPECT_LT(Clock::now() - start, 200ms);
    EXPECT_TRUE(c->Connecting());
    EXPECT_EQ(view_.Pane(1), kTextConnecting);
    EXPECT_FALSE(view_.Enabled(ids::kCmdConnect));
    EXPECT_FALSE(c->Connect());
    c->WaitConnect();
    EXPECT_FALSE(c->Connecting());
    EXPECT_EQ(view_.Pane(1), "Connected");
    EXPECT_EQ(peer.server.connections(), 1);
}

TEST_F(SessionTest, WatchdogAndReconnectKeepOneTimer) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    Store(1, "127.0.0.1", "::1");
    auto c = Make(PanelTraits::HardKey(), peer.server.port());
    for (int i = 0; i < 3; ++i) {
        c->ConnectNow();
        ASSERT_EQ(view_.Pane(1), "Connected");
        EXPECT_EQ(view_.Timers().size(), 1u);
        c->Disconnect();
        EXPECT_TRUE(view_.Timers().empty());
        EXPECT_EQ(c->abort().load(), 1);
    }
    c->ConnectNow();
    c->Start();
    c->OnTimer(ids::kTimerWatchdog);  // link still up: nothing happens
    EXPECT_EQ(view_.Pane(1), "Connected");
    engine_.SetConnected(0);  // what the screen loop does when a frame cannot be received
    c->OnTimer(ids::kTimerWatchdog);
    EXPECT_EQ(view_.Pane(1), "Disconnected");
    EXPECT_TRUE(view_.Timers().empty());
    EXPECT_EQ(view_.Messages().back(), "Disconnected");
    EXPECT_EQ(c->streaming().load(), 1) << "the watchdog leaves streaming on";
    // The watchdog writes no log line.
    EXPECT_EQ(LogMessages().back(), "TCP Connected, Load Equp");
}

TEST_F(SessionTest, StartAndStop) {
    Store(1, "127.0.0.1", "::1", 1);
    std::vector<std::string> sent;
    for (const bool soft : {false, true}) {
        auto c = Make(soft ? PanelTraits::SoftKey() : PanelTraits::HardKey(), 66);
        c->sendKey = [&](const std::string& text) { sent.push_back(text); };
        c->Start();
        EXPECT_EQ(c->streaming().load(), 1);
        EXPECT_EQ(view_.Pane(2), "Remote Control Started");
        EXPECT_TRUE(view_.Enabled(soft ? ids::kSoftKnob : ids::kHardKnob));
        EXPECT_TRUE(view_.Enabled(soft ? ids::kSoftKeyFirst : ids::kHardKeyFirst));
        EXPECT_TRUE(view_.Enabled(ids::kCmdStop));
        EXPECT_FALSE(view_.Enabled(ids::kCmdDisconnect));
        EXPECT_TRUE(
            std::regex_match(c->FramePath(), std::regex(".*/[0-9]{8}_[0-9]{6}_[0-9]{3}\\.jpg")))
            << c->FramePath();
        c->Stop();
        EXPECT_EQ(c->streaming().load(), 0);
        EXPECT_EQ(view_.Pane(2), "Remote Control Stopped");
        EXPECT_FALSE(view_.Enabled(soft ? ids::kSoftKnob : ids::kHardKnob));
        EXPECT_GE(view_.Repaints(), 1);
        c->Close(nullptr);
    }
    // Only the soft-key panel repeats the stored quality at Start.
    EXPECT_EQ(sent, std::vector<std::string>{"KEYP:QUAL:NORM"});
}

// Over USB the engine's reader thread raises the response-ready flag through the owner.
class UsbSession : public SessionTest {
  protected:
    struct Forward : DevOwner {
        SessionController* session = nullptr;
        void OnResponseReady(int flag) override {
            if (session != nullptr) {
                session->OnResponseReady(flag);
            }
        }
    };

    std::unique_ptr<SessionController> MakeUsb(PanelTraits traits, int method = 2) {
        Store(method, "127.0.0.1", "::1");
        usb_.SetReadTimeout(300ms);
        engine_.SetUsbBackend(&usb_);
        store_ = std::make_unique<SettingsStore>(ini_);
        auto c = std::make_unique<SessionController>(engine_, *store_, view_, std::move(traits),
                                                     &owner_);
        owner_.session = c.get();
        c->logFolder = dir_.path().toStdString();
        // Short real waits: the reader thread must get its turn.
        c->sleep = [](std::chrono::milliseconds) { std::this_thread::sleep_for(5ms); };
        c->Create();
        return c;
    }
    void TearDown() override {
        engine_.CloseUsb();
        SessionTest::TearDown();
    }

    sim::SimInstrument instrument_;
    sim::SimUsbBackend usb_{instrument_};
    Forward owner_;
};

TEST_F(UsbSession, ConnectsAndStreamsUnknownMethodsToo) {
    // A stored method outside 1 to 3 connects by USB.
    for (const int method : {2, 7}) {
        SCOPED_TRACE(method);
        auto c = MakeUsb(PanelTraits::SoftKey(), method);
        EXPECT_EQ(view_.Pane(3), "USB");
        c->ConnectNow();
        EXPECT_EQ(LogMessages(), std::vector<std::string>{"USB Connected"});
        EXPECT_EQ(view_.Messages(), std::vector<std::string>{"Connected"});
        EXPECT_EQ(view_.Pane(1), "Connected");
        EXPECT_EQ(c->ModelKind(), kModelKindTouch);
        EXPECT_EQ(engine_.IsConnected(), 1);
        EXPECT_EQ(c->ActiveMethod(), kMethodUsb);
        EXPECT_EQ(c->responseReady().load(), 1);
        // Disconnect clears the flags only; the device stays open until the next open.
        c->Disconnect();
        EXPECT_TRUE(engine_.UsbIsOpen());
        c->Close(nullptr);
        view_.Reset();
    }
}

TEST_F(UsbSession, Failures) {
    struct Case {
        const char* name;
        std::function<void(sim::SimUsbBackend&, sim::SimInstrument&)> arrange;
        std::vector<std::string> log;
        std::string message;
        bool disconnected;  // the Disconnected state is set again
    };
    const Case cases[] = {
        // The set-up report tells the person why no device was found.
        {"no device",
         [](auto& u, auto&) { u.ClearInterfaces(); },
         {"Error! Do not connect", "see: qvctl usb"},
         "reason 2",
         false},
        {"silent device",
         [](auto& u, auto&) {
             sim::SimUsbFaults f;
             f.stallRead = true;
             u.SetFaults(f);
         },
         {"Connect USB Timeout."},
         "Timeout",
         false},
        {"empty answer",
         [](auto&, auto& i) { i.SetAnswer(REQ_EQINFO, std::vector<std::uint8_t>{}); },
         {"Connection Failed"},
         "reason 2",
         true},
    };
    for (const bool soft : {false, true}) {
        for (const Case& fc : cases) {
            SCOPED_TRACE(std::string(fc.name) + (soft ? " soft" : " hard"));
            fc.arrange(usb_, instrument_);
            auto c = MakeUsb(soft ? PanelTraits::SoftKey() : PanelTraits::HardKey());
            view_.Reset();
            c->ConnectNow();
            EXPECT_EQ(LogMessages(), fc.log);
            EXPECT_EQ(view_.Messages(), std::vector<std::string>{fc.message});
            EXPECT_EQ(engine_.IsConnected(), 0);
            EXPECT_TRUE(view_.Timers().empty());
            // The buttons are as before the attempt: Connect usable again.
            EXPECT_TRUE(view_.Enabled(ids::kCmdConnect));
            EXPECT_FALSE(view_.Enabled(ids::kCmdStart));
            if (fc.disconnected) {
                EXPECT_EQ(view_.Pane(1), "Disconnected");
            }
            c->Close(nullptr);
            engine_.CloseUsb();
            // Back to a healthy device for the next case.
            usb_.ClearInterfaces();
            usb_.AddInterface(kUsbClassVista, sim::SimUsbBackend::kDefaultPath);
            usb_.SetFaults({});
            instrument_.SetAnswer(REQ_EQINFO, std::nullopt);
        }
    }
}

}  // namespace
}  // namespace qv::test
