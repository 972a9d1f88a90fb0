// The session against the simulated instrument over loopback and over its USB personality:
// connecting, the watchdog, remote control, the screen loop and the one send path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QSettings>
#include <atomic>
#include <regex>

#include "link/ModelTable.h"
#include "session/Commands.h"
#include "sim/SimUsbBackend.h"
#include "tests/link/SimPeer.h"
#include "tests/session/SessionRig.h"

namespace qv::test {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
    }
    return out;
}

class SessionTest : public SessionRig {};

TEST_F(SessionTest, TcpConnectsBothFamilies) {
    for (const Loopback& loop : {kLoopV4, kLoopV6}) {
        SCOPED_TRACE(Name(loop));
        SimPeer peer(loop);
        if (!peer.started()) {
            continue;
        }
        auto& s = Make(PanelTraits::SoftKey(), peer.server.port());
        s.SetLink(loop.ipv6 ? 3 : 1, "127.0.0.1", "::1");
        const std::string prefix = loop.ipv6 ? "TCP(IPv6)" : "TCP";
        EXPECT_EQ(shown_.panes[3], loop.ipv6 ? "IPv6 : ::1" : "TCP/IP : 127.0.0.1");
        EXPECT_EQ(s.linkState(), LinkState::Disconnected);
        ConnectAndWait();
        EXPECT_EQ(LogMessages(), (std::vector<std::string>{prefix + " Request Ret : 7 ",
                                                           prefix + " Connected, Load Equp"}));
        EXPECT_EQ(shown_.boxes, std::vector<std::string>{"Connected"});
        EXPECT_EQ(s.linkState(), LinkState::Connected);
        EXPECT_TRUE(s.WatchdogActive());
        EXPECT_EQ(s.ModelKind(), kModelKindTouch);  // the simulator's QV392B
        EXPECT_EQ(s.responseReady().load(), 1);
        EXPECT_EQ(s.abort().load(), 0);
        s.Disconnect();
        EXPECT_EQ(s.linkState(), LinkState::Disconnected);
        EXPECT_FALSE(s.WatchdogActive());
        EXPECT_EQ(shown_.boxes.back(), "Disconnected");
        EXPECT_EQ(LogMessages().back(), "Disconnect");
        s.Close();
    }
}

// A machine that never stored settings: the communication dialog's choice is taken, shown,
// stored (creating the settings) and used by the next Connect; a quality choice is kept for
// Start even though nothing could store it before the settings existed.
TEST_F(SessionTest, FirstUseTakesTheChosenLinkAndKeepsChoices) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    auto& s = Make(PanelTraits::SoftKey(), peer.server.port());
    s.StartWorkers({});
    ASSERT_FALSE(store_->KeyExists());
    EXPECT_EQ(shown_.panes[3], "USB");
    s.SetQuality(2);  // before the settings exist: not stored, still used
    EXPECT_FALSE(store_->KeyExists());

    s.SetLink(1, "127.0.0.1", "fe80::9");
    EXPECT_EQ(shown_.panes[3], "TCP/IP : 127.0.0.1");
    ASSERT_TRUE(store_->KeyExists());
    EXPECT_EQ(store_->Load().method, 1);
    EXPECT_EQ(store_->Load().ip, "127.0.0.1");

    ConnectAndWait();
    EXPECT_EQ(s.linkState(), LinkState::Connected);
    s.Start();
    ASSERT_TRUE(peer.server.instrument().WaitForCommands(1, 2s));
    EXPECT_EQ(peer.server.instrument().Commands()[0].text, "KEYP:QUAL:LOW");
    s.Stop();
    s.Disconnect();

    // The address dialog changes the IPv4 address only; the pane prefix is the panel's.
    s.SetIpv4("10.0.0.5", "IP : ");
    EXPECT_EQ(shown_.panes[3], "IP : 10.0.0.5");
    EXPECT_EQ(store_->Load().ip, "10.0.0.5");
    EXPECT_EQ(store_->Load().method, 1);
    // IPv6 and USB keep the IPv4 address the session holds.
    s.SetLink(3, "1.2.3.4", "::1");
    EXPECT_EQ(shown_.panes[3], "IPv6 : ::1");
    s.SetLink(2, "1.2.3.4", "::1");
    EXPECT_EQ(shown_.panes[3], "USB");
    EXPECT_EQ(s.settings().ip, "10.0.0.5");
    EXPECT_EQ(store_->Load().ip, "10.0.0.5");
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

class SessionFailures : public SessionRig, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SessionFailures, LogMessageAndState) {
    const FailureCase& fc = GetParam();
    SimPeer peer(fc.method == 3 ? kLoopV6 : kLoopV4);
    if (!peer.started()) {
        GTEST_SKIP() << "no loopback of this family";
    }
    const std::uint16_t port = peer.server.port();
    if (fc.silent) {
        sim::SimFaults f;
        f.silent = true;
        peer.server.instrument().SetFaults(f);
    } else {
        peer.server.Stop();  // nobody listens
    }
    auto& s = Make(fc.softKey ? PanelTraits::SoftKey() : PanelTraits::HardKey(), port);
    s.SetLink(fc.method, "127.0.0.1", "::1");
    ConnectAndWait();
    EXPECT_EQ(LogMessages(), fc.log);
    EXPECT_EQ(shown_.boxes, std::vector<std::string>{fc.message});
    EXPECT_EQ(s.linkState(), LinkState::Disconnected);
    EXPECT_FALSE(s.WatchdogActive());
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

TEST_F(SessionTest, ConnectRunsOffTheWindowAndOnlyOnce) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    sim::SimFaults slow;
    slow.frameDelayMs = 300;
    peer.server.instrument().SetFaults(slow);
    auto& s = Make(PanelTraits::HardKey(), peer.server.port());
    s.SetLink(1, "127.0.0.1", "::1");
    const auto start = Clock::now();
    ASSERT_TRUE(s.Connect());
    EXPECT_LT(Clock::now() - start, 200ms);
    EXPECT_TRUE(s.Connecting());
    EXPECT_FALSE(s.Connect());
    ASSERT_TRUE(WaitFor([&] { return !s.Connecting(); }));
    EXPECT_EQ(s.linkState(), LinkState::Connected);
    EXPECT_EQ(peer.server.connections(), 1);
}

TEST_F(SessionTest, WatchdogEndsALostLinkAndReconnectsKeepOneTimer) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    auto& s = Make(PanelTraits::HardKey(), peer.server.port());
    s.SetLink(1, "127.0.0.1", "::1");
    s.SetAutoReconnect(false);  // the design's way: the loss is reported
    for (int i = 0; i < 3; ++i) {
        ConnectAndWait();
        ASSERT_EQ(s.linkState(), LinkState::Connected);
        EXPECT_TRUE(s.WatchdogActive());
        s.Disconnect();
        EXPECT_FALSE(s.WatchdogActive());
        EXPECT_EQ(s.abort().load(), 1);
    }
    ConnectAndWait();
    s.Start();
    const auto boxes = shown_.boxes.size();
    engine_.SetConnected(0);  // what the screen loop does when a frame cannot be received
    ASSERT_TRUE(WaitFor([&] { return s.linkState() == LinkState::Disconnected; }, 1s));
    EXPECT_FALSE(s.WatchdogActive());
    ASSERT_EQ(shown_.boxes.size(), boxes + 1);
    EXPECT_EQ(shown_.boxes.back(), "Disconnected");
    EXPECT_TRUE(s.Streaming()) << "the watchdog leaves streaming on";
    // The watchdog writes no log line.
    EXPECT_EQ(LogMessages().back(), "TCP Connected, Load Equp");
}

TEST_F(SessionTest, StartAndStop) {
    for (const bool soft : {false, true}) {
        SCOPED_TRACE(soft ? "soft" : "hard");
        auto& s = Make(soft ? PanelTraits::SoftKey() : PanelTraits::HardKey(), 66);
        s.StartWorkers({});
        s.SetQuality(1);
        const int before = shown_.states;
        s.Start();
        EXPECT_TRUE(s.Streaming());
        EXPECT_GT(shown_.states, before);
        EXPECT_TRUE(
            std::regex_match(s.FramePath(), std::regex(".*/[0-9]{8}_[0-9]{6}_[0-9]{3}\\.jpg")))
            << s.FramePath();
        s.Stop();
        EXPECT_FALSE(s.Streaming());
        // Only the soft-key panel repeats the chosen quality at Start (a logged send).
        const std::string log = ReadFile(ActivityLog::Instance().Path());
        EXPECT_EQ(log.find("KEYP:QUAL:NORM") != std::string::npos, soft);
        s.Close();
    }
}

// Over USB the engine's reader thread raises the response-ready flag through the session.
class UsbSession : public SessionRig {
  protected:
    SessionController& MakeUsb(PanelTraits traits) {
        usb_.SetReadTimeout(300ms);
        engine_.SetUsbBackend(&usb_);
        auto& s = Make(traits, 66);
        s.usbWaitStep = 10ms;
        return s;
    }
    void TearDown() override {
        SessionRig::TearDown();
        engine_.CloseUsb();
    }

    sim::SimInstrument instrument_;
    sim::SimUsbBackend usb_{instrument_};
};

TEST_F(UsbSession, ConnectsByUsbOnANewMachineAndForUnknownMethods) {
    for (const int method : {0, 7}) {
        SCOPED_TRACE(method);
        if (method != 0) {
            // A stored method outside 1 to 3 connects by USB, and stays in the store.
            QSettings ini(QString::fromStdString(Ini()), QSettings::IniFormat);
            ini.setValue("Connection/Method", method);
            ini.sync();
        }
        auto& s = MakeUsb(PanelTraits::SoftKey());
        EXPECT_EQ(shown_.panes[3], "USB");
        ConnectAndWait();
        EXPECT_EQ(LogMessages(), std::vector<std::string>{"USB Connected"});
        EXPECT_EQ(shown_.boxes, std::vector<std::string>{"Connected"});
        EXPECT_EQ(s.linkState(), LinkState::Connected);
        EXPECT_EQ(s.ModelKind(), kModelKindTouch);
        EXPECT_EQ(engine_.IsConnected(), 1);
        EXPECT_EQ(s.ActiveMethod(), kMethodUsb);
        EXPECT_EQ(s.responseReady().load(), 1);
        // Disconnect clears the flags only; the device stays open until the next open.
        s.Disconnect();
        EXPECT_TRUE(engine_.UsbIsOpen());
        s.Close();
        if (method != 0) {
            EXPECT_EQ(store_->Load().method, method);
        }
    }
}

TEST_F(UsbSession, Failures) {
    struct Case {
        const char* name;
        std::function<void(sim::SimUsbBackend&, sim::SimInstrument&)> arrange;
        std::vector<std::string> log;
        std::string message;
    };
    const Case cases[] = {
        // The log points to the set-up check after the design's line.
        {"no device",
         [](auto& u, auto&) { u.ClearInterfaces(); },
         {"Error! Do not connect", "see: qvctl usb"},
         "reason 2"},
        {"silent device",
         [](auto& u, auto&) {
             sim::SimUsbFaults f;
             f.stallRead = true;
             u.SetFaults(f);
         },
         {"Connect USB Timeout."},
         "Timeout"},
        {"empty answer",
         [](auto&, auto& i) { i.SetAnswer(REQ_EQINFO, std::vector<std::uint8_t>{}); },
         {"Connection Failed"},
         "reason 2"},
    };
    for (const bool soft : {false, true}) {
        for (const Case& fc : cases) {
            SCOPED_TRACE(std::string(fc.name) + (soft ? " soft" : " hard"));
            fc.arrange(usb_, instrument_);
            auto& s = MakeUsb(soft ? PanelTraits::SoftKey() : PanelTraits::HardKey());
            ConnectAndWait();
            EXPECT_EQ(LogMessages(), fc.log);
            EXPECT_EQ(shown_.boxes, std::vector<std::string>{fc.message});
            EXPECT_EQ(engine_.IsConnected(), 0);
            EXPECT_FALSE(s.WatchdogActive());
            // As before the attempt: disconnected, Connect usable again.
            EXPECT_EQ(s.linkState(), LinkState::Disconnected);
            s.Close();
            engine_.CloseUsb();
            // Back to a healthy device for the next case.
            usb_.ClearInterfaces();
            usb_.AddInterface(kUsbClassVista, sim::SimUsbBackend::kDefaultPath);
            usb_.SetFaults({});
            instrument_.SetAnswer(REQ_EQINFO, std::nullopt);
        }
    }
}

// A connected session streaming through its own screen loop.
class Streaming : public SessionRig {
  protected:
    void Open(bool softKey) {
        ASSERT_TRUE(peer_.started());
        auto& s =
            Make(softKey ? PanelTraits::SoftKey() : PanelTraits::HardKey(), peer_.server.port());
        s.SetLink(1, "127.0.0.1", "::1");
        s.StartWorkers([this](const std::string&) {
            ++drawn_;
            return true;
        });
        ConnectAndWait();
        ASSERT_EQ(s.linkState(), LinkState::Connected);
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
    bool Drawn(int n, std::chrono::milliseconds timeout = 5s) {
        return WaitFor([&] { return drawn_.load() >= n; }, timeout);
    }
    std::string Log() const { return ReadFile(ActivityLog::Instance().Path()); }

    SimPeer peer_{kLoopV4};
    std::atomic<int> drawn_{0};
};

TEST_F(Streaming, StreamsOnlyBetweenStartAndStopAndWritesTheFrameWhole) {
    const auto bytes = Bytes(kMaxAnswerBytes);  // the largest reply
    peer_.server.instrument().SetScreenOverride(bytes);
    Open(true);
    // Two cycles' time: nothing is asked before Start.
    WaitFor([] { return false; }, 1100ms);
    EXPECT_TRUE(ScreenRequests().empty());
    session_->Start();
    ASSERT_TRUE(Drawn(2));
    session_->Stop();
    // A cycle already running completes; then nothing more is asked.
    WaitFor([&] { return session_->responseReady().load() == 1; }, 2s);
    const std::size_t asked = ScreenRequests().size();
    WaitFor([] { return false; }, 1100ms);
    EXPECT_EQ(ScreenRequests().size(), asked);
    const std::string file = ReadFile(session_->FramePath());
    ASSERT_EQ(file.size(), bytes.size());
    EXPECT_TRUE(
        std::equal(bytes.begin(), bytes.end(), reinterpret_cast<const std::uint8_t*>(file.data())));
    // The soft-key panel's timing line for TCP carries the frame's length.
    EXPECT_TRUE(std::regex_search(Log(), std::regex("   [0-9]+\\.[0-9]{3}, 400000\r\n")));
}

TEST_F(Streaming, PacingFollowsTheExchangeTime) {
    peer_.server.instrument().SetScreenOverride(Bytes(20000));
    Open(false);
    session_->Start();
    ASSERT_TRUE(Drawn(5, 4s));
    auto fast = ScreenRequests();
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
    const int now = drawn_.load();
    ASSERT_TRUE(Drawn(now + 4, 6s));
    auto slowStarts = ScreenRequests();
    for (std::size_t i = 2; i < slowStarts.size(); ++i) {
        const auto gap = slowStarts[i] - slowStarts[i - 1];
        EXPECT_GT(gap, 700ms);
        EXPECT_LT(gap, 1000ms);
    }
}

TEST_F(Streaming, DisconnectAbortsARunningExchangeAndDrawsNothing) {
    sim::SimFaults slow;
    slow.frameDelayMs = 300;
    peer_.server.instrument().SetFaults(slow);
    peer_.server.instrument().SetScreenOverride(Bytes(20000));
    Open(false);
    session_->Start();
    ASSERT_TRUE(WaitFor([&] { return !ScreenRequests().empty(); }));
    const auto start = Clock::now();
    session_->Stop();
    session_->Disconnect();
    ASSERT_TRUE(WaitFor([&] { return session_->responseReady().load() == 1; }, 2s));
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(drawn_.load(), 0);
    EXPECT_EQ(Log().find("Receive Fail"), std::string::npos);
}

TEST_F(Streaming, ReceiveFailureMarksTheLinkAndStreamingResumesAfterConnect) {
    Open(true);
    session_->SetAutoReconnect(false);  // the design's way: a box, then the user connects
    sim::SimFaults silent;
    silent.silent = true;
    peer_.server.instrument().SetFaults(silent);
    session_->Start();
    // The failed cycle marks the link; the watchdog ends it with its box.
    ASSERT_TRUE(WaitFor([&] { return session_->linkState() == LinkState::Disconnected; }, 8s));
    EXPECT_EQ(shown_.boxes.back(), "Disconnected");
    EXPECT_NE(Log().find("Receive Fail : STR_ERROR_TIMEOUT\r\n"), std::string::npos);
    EXPECT_TRUE(session_->Streaming());

    peer_.server.instrument().SetFaults({});
    ConnectAndWait();
    ASSERT_EQ(session_->linkState(), LinkState::Connected);
    // No new Start: remote control resumes with the link.
    const int now = drawn_.load();
    EXPECT_TRUE(Drawn(now + 1, 3s));
}

TEST_F(Streaming, KeysDuringScreensArriveInOrderAndLeaveScreensIntact) {
    peer_.server.instrument().SetScreenOverride(Bytes(150000));
    Open(true);
    session_->Start();
    for (int i = 0; i < 60; ++i) {
        session_->SendKey(i % 2 ? "KEYP:RIGH" : "KEYP:NUM" + std::to_string(i % 10));
    }
    ASSERT_TRUE(peer_.server.instrument().WaitForCommands(60, 5s));
    ASSERT_TRUE(Drawn(2));
    const auto commands = peer_.server.instrument().Commands();
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(commands[static_cast<std::size_t>(i)].text,
                  i % 2 ? "KEYP:RIGH" : "KEYP:NUM" + std::to_string(i % 10));
    }
    EXPECT_EQ(Log().find("Receive Fail"), std::string::npos);
    EXPECT_EQ(engine_.IsConnected(), 1);
}

TEST_F(Streaming, KeyLinesOfBothPanels) {
    for (const bool soft : {false, true}) {
        SCOPED_TRACE(soft ? "soft" : "hard");
        peer_.server.instrument().ClearRecords();
        Open(soft);
        session_->SendKey("KEYP:RIGH");
        session_->SendKey(std::string(kKeyboardCommand));
        ASSERT_TRUE(peer_.server.instrument().WaitForCommands(2, 2s));
        const auto commands = peer_.server.instrument().Commands();
        // The hard-key panel sends the knob's right turn as "KEYP:RIGHT".
        EXPECT_EQ(commands[0].text, soft ? "KEYP:RIGH" : "KEYP:RIGHT");
        EXPECT_EQ(commands[1].text, "SAVE:KEYP:STRS [QVRemote]");
        // The soft-key panel logs the line feed it sends, the hard-key panel does not.
        const std::string log = Log();
        EXPECT_NE(log.find(soft ? "   KEYP:RIGH\n\r\n" : "   KEYP:RIGHT\r\n"), std::string::npos);
        session_->Close();
    }
}

TEST_F(Streaming, HardKeyPauseHoldsTheWriterNotTheWindow) {
    Open(false);
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) {
        session_->SendKey("KEYP:NUM1");
    }
    EXPECT_LT(Clock::now() - start, 50ms) << "SendKey returns at once";
    ASSERT_TRUE(peer_.server.instrument().WaitForCommands(5, 3s));
    const auto commands = peer_.server.instrument().Commands();
    for (std::size_t i = 1; i < commands.size(); ++i) {
        EXPECT_GE(commands[i].at - commands[i - 1].at, 95ms);
    }
}

// The link heals itself: a lost link is retried quietly with a growing wait until the
// instrument is back, and remote control resumes by itself.
class Healing : public Streaming {
  protected:
    std::size_t Count(const std::string& prefix) {
        std::size_t n = 0;
        for (const std::string& line : LogMessages()) {
            n += line.rfind(prefix, 0) == 0;
        }
        return n;
    }
    void OpenHealing() {
        Open(true);
        session_->reconnectUnit = 40ms;
    }
};

TEST_F(Healing, ALostLinkIsRetriedWithAGrowingWaitAndStreamingResumes) {
    OpenHealing();
    session_->Start();
    ASSERT_TRUE(Drawn(1));
    const auto boxes = shown_.boxes.size();
    const auto lost = Clock::now();
    peer_.server.Stop();
    // Seen within a watchdog period or two, though no exchange may be under way.
    ASSERT_TRUE(WaitFor([&] { return session_->linkState() == LinkState::Reconnecting; }, 1s));
    EXPECT_LT(Clock::now() - lost, 300ms);
    EXPECT_EQ(shown_.boxes.size(), boxes) << "no box while healing";
    // Attempts fail one log line each, the waits 1, 2, 4, 8 units apart.
    ASSERT_TRUE(WaitFor([&] { return Count("Reconnect attempt") >= 4; }, 3s));
    EXPECT_EQ(Count("Reconnect attempt 1 failed: TCP Connection Failed"), 1u);
    EXPECT_EQ(Count("TCP Connection Failed"), 0u) << "attempts are quiet";
    EXPECT_TRUE(session_->Streaming());
    // Keys send nothing while the link is down, and nothing waits for later.
    session_->SendKey("KEYP:MARK");
    ASSERT_TRUE(peer_.server.Start("127.0.0.1", peer_.server.port()));
    const int before = drawn_.load();
    ASSERT_TRUE(WaitFor([&] { return session_->linkState() == LinkState::Connected; }, 5s));
    EXPECT_EQ(Count("Reconnected after"), 1u);
    EXPECT_TRUE(Drawn(before + 1));
    EXPECT_TRUE(peer_.server.instrument().Commands().empty());
    EXPECT_EQ(shown_.boxes.size(), boxes);
}

TEST_F(Healing, BackOffDoublesToItsCap) {
    const int expected[] = {1, 2, 4, 8, 15, 15, 15};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(SessionController::ReconnectDelayUnits(i), expected[i]);
    }
}

TEST_F(Healing, APeerThatHangsUpAtOnceWaitsItsTurnAndDisconnectEndsIt) {
    OpenHealing();
    session_->reconnectUnit = 100ms;
    session_->Start();
    ASSERT_TRUE(Drawn(1));
    const std::uint16_t port = peer_.server.port();
    peer_.server.Stop();
    // Accepts and closes at once, every time.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    std::atomic<int> accepted{0};
    std::atomic<bool> stop{false};
    std::thread hangUp([&] {
        while (!stop.load()) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                ::close(::accept(listener, nullptr, nullptr));
                ++accepted;
            }
        }
    });
    // 100 + 200 + 400 ms: three attempts in about 0.7 s, not hundreds.
    WaitFor([] { return false; }, 900ms);
    EXPECT_GE(accepted.load(), 2);
    EXPECT_LE(accepted.load(), 4);
    // One line an attempt (the one under way may not have written its line yet).
    const auto lines = Count("Reconnect attempt");
    EXPECT_LE(lines, static_cast<std::size_t>(accepted.load()));
    EXPECT_GE(lines + 1, static_cast<std::size_t>(accepted.load()));
    // The user's Disconnect ends the healing at once: no further attempt.
    session_->Disconnect();
    EXPECT_EQ(session_->linkState(), LinkState::Disconnected);
    const int attempts = accepted.load();
    WaitFor([] { return false; }, 1000ms);
    EXPECT_EQ(accepted.load(), attempts);
    stop = true;
    hangUp.join();
    ::close(listener);
}

TEST_F(Healing, WithoutItALostLinkIsReportedAsBefore) {
    Open(true);
    session_->SetAutoReconnect(false);
    session_->Start();
    ASSERT_TRUE(Drawn(1));
    peer_.server.Stop();
    ASSERT_TRUE(WaitFor([&] { return session_->linkState() != LinkState::Connected; }, 3s));
    EXPECT_EQ(session_->linkState(), LinkState::Disconnected);
    EXPECT_EQ(shown_.boxes.back(), "Disconnected");
    EXPECT_EQ(store_->Load().autoReconnect, 0);
}

TEST_F(Healing, AnIdleLinkThatDiesIsNoticed) {
    Open(true);
    session_->reconnectUnit = 40ms;
    // Connected, not streaming: the instrument goes silent without closing.
    sim::SimFaults silent;
    silent.silent = true;
    peer_.server.instrument().SetFaults(silent);
    const auto start = Clock::now();
    // The check runs every 5 s and a silent answer fails within about 2.3 s.
    ASSERT_TRUE(WaitFor([&] { return session_->linkState() == LinkState::Reconnecting; }, 10s));
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(Count("Idle check failed : STR_ERROR_TIMEOUT"), 1u);
    peer_.server.instrument().SetFaults({});
    EXPECT_TRUE(WaitFor([&] { return session_->linkState() == LinkState::Connected; }, 5s));
}

TEST_F(SessionTest, AConnectToASilentPeerCanBeCancelled) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    sim::SimFaults silent;
    silent.silent = true;
    peer.server.instrument().SetFaults(silent);
    auto& s = Make(PanelTraits::HardKey(), peer.server.port());
    s.SetLink(1, "127.0.0.1", "::1");
    ASSERT_TRUE(s.Connect());
    ASSERT_TRUE(WaitFor([&] { return !peer.server.instrument().Requests().empty(); }));
    const auto start = Clock::now();
    s.CancelConnect();
    EXPECT_EQ(s.linkState(), LinkState::Disconnected);
    EXPECT_LT(Clock::now() - start, 200ms);
    WaitFor([] { return false; }, 300ms);  // the abandoned job's result arrives and is dropped
    EXPECT_EQ(s.linkState(), LinkState::Disconnected);
    EXPECT_TRUE(shown_.boxes.empty());
    EXPECT_TRUE(LogMessages().empty()) << "a cancel is not a failure";
    // A new connect works.
    peer.server.instrument().SetFaults({});
    ConnectAndWait();
    EXPECT_EQ(s.linkState(), LinkState::Connected);
}

TEST_F(Streaming, HealthPaneShowsRateExchangeTimeAndAge) {
    Open(true);
    EXPECT_EQ(shown_.panes[0], "\u2014");
    session_->Start();
    ASSERT_TRUE(Drawn(3));
    ASSERT_TRUE(WaitFor([&] { return shown_.panes[0].find("fps") != std::string::npos; }, 2s));
    // "0.6 fps · 3 ms · 0.2 s": about two frames a second over the last 5 s.
    EXPECT_TRUE(
        std::regex_match(shown_.panes[0], std::regex("[0-9]+\\.[0-9] fps \u00b7 [0-9]+ ms \u00b7 "
                                                     "[0-9]+\\.[0-9] s")))
        << shown_.panes[0];
    session_->Stop();
    ASSERT_TRUE(WaitFor([&] { return shown_.panes[0] == "\u2014"; }, 2s));
}

// Over USB: the same loop and key path through the simulator's USB personality.
class UsbStreaming : public UsbSession, public ::testing::WithParamInterface<bool> {};

TEST_P(UsbStreaming, FramesAndKeysThenAFailure) {
    const bool soft = GetParam();
    const auto screen = Bytes(150000);
    instrument_.SetScreenOverride(screen);
    std::atomic<int> drawn{0};
    auto& s = MakeUsb(soft ? PanelTraits::SoftKey() : PanelTraits::HardKey());
    s.StartWorkers([&](const std::string&) {
        ++drawn;
        return true;
    });
    ConnectAndWait();
    ASSERT_EQ(s.linkState(), LinkState::Connected);
    s.Start();
    for (int i = 0; i < 10; ++i) {
        s.SendKey("KEYP:NUM" + std::to_string(i % 10));
    }
    ASSERT_TRUE(instrument_.WaitForCommands(10, 5s));
    ASSERT_TRUE(WaitFor([&] { return drawn.load() >= 2; }))
        << ReadFile(ActivityLog::Instance().Path());
    const std::string frame = ReadFile(s.FramePath());
    EXPECT_TRUE(frame == std::string(screen.begin(), screen.end()));
    std::string log = ReadFile(ActivityLog::Instance().Path());
    EXPECT_EQ(log.find("Receive Fail"), std::string::npos);
    EXPECT_EQ(log.find("Send REQ_CMD Error"), std::string::npos);
    // Only the soft-key panel writes the USB timing line, without the frame's length.
    EXPECT_EQ(log.find(", 150000"), std::string::npos);
    EXPECT_EQ(std::regex_search(log, std::regex("   [0-9]+\\.[0-9]{3}\r\n")), soft);

    // A device that stops answering: the cycle fails, the watchdog takes the link down.
    sim::SimUsbFaults stall;
    stall.stallRead = true;
    usb_.SetFaults(stall);
    ASSERT_TRUE(WaitFor([&] { return s.linkState() != LinkState::Connected; }, 8s));
    EXPECT_NE(ReadFile(ActivityLog::Instance().Path()).find("Receive Fail : STR_ERROR_PACKET\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Panels, UsbStreaming, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SoftKey" : "HardKey"; });

}  // namespace
}  // namespace qv::test
