// The simulated instrument itself: what the demo shows of the commands it receives, and its
// server seen from a raw loopback client. Its frames and faults are checked through the engine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "link/FrameCodec.h"
#include "sim/SimServer.h"

namespace qv::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

TEST(SimInstrument, CommandsChangeThePictureAndItsStamp) {
    SimScreen screen(800, 600);
    // The touch cross is drawn where the touch pointed.
    EXPECT_NE(screen.RenderImage().pixelColor(412, 300), QColor(255, 80, 80));
    screen.Apply("KEYP 400,300");
    EXPECT_EQ(screen.RenderImage().pixelColor(412, 300), QColor(255, 80, 80));
    // Every frame carries the number of commands applied; a client reads it off the picture
    // it drew, at any of the panels' sizes and at the lowest JPEG quality.
    for (const auto& [w, h] : {std::pair{800, 600}, std::pair{800, 480}}) {
        SimScreen s(w, h);
        s.Apply("KEYP:QUAL:LOW");
        EXPECT_LT(s.jpegQuality(), 50);
        for (const int commands : {2, 77, 40000}) {
            while (s.commandCount() < static_cast<std::uint64_t>(commands)) {
                s.Apply("KEYP:NUM5");
            }
            const auto jpeg = s.Render();
            QImage decoded;
            ASSERT_TRUE(decoded.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPG"));
            for (const QSize drawn : {QSize(w, h), QSize(680, 510), QSize(559, 419)}) {
                EXPECT_EQ(SimScreen::ReadCommandStamp(decoded.scaled(drawn, Qt::IgnoreAspectRatio,
                                                                     Qt::SmoothTransformation),
                                                      w, h),
                          commands)
                    << w << "x" << h << " drawn " << drawn.width() << "x" << drawn.height();
            }
        }
    }
    QImage blank(800, 600, QImage::Format_RGB32);
    blank.fill(Qt::black);
    EXPECT_FALSE(SimScreen::ReadCommandStamp(blank, 800, 600)) << "no strip, no stamp";
}

// A raw client on loopback: connects, sends what it is given, and listens.
class RawClient {
  public:
    // small: a receive buffer of a few kilobytes, so that answers it does not read pile up
    // at the server.
    explicit RawClient(std::uint16_t port, bool small = false)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const int size = 4096;
        if (small) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    void Send(std::span<const std::uint8_t> bytes) {
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // A request, sent times over (a screen request asks for the screen file).
    void Ask(std::uint8_t code, int times = 1) {
        const auto entry = BuildFileEntry(kScreenFileName, kScreenFileSize);
        Bytes frame(kMaxEncodedFrame);
        frame.resize(EncodeFrame(FrameHeader{kCmdRequest, code, 1, 0},
                                 code == REQ_SCREEN ? std::span<const std::uint8_t>(*entry)
                                                    : std::span<const std::uint8_t>(),
                                 frame));
        for (int i = 0; i < times; ++i) {
            Send(frame);
        }
    }
    // What the server does within the time: answers (a frame's start marker), hangs up, or
    // neither.
    enum class Heard { Answer, HungUp, Nothing };
    Heard Listen(std::chrono::milliseconds time) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(time.count())) != 1) {
            return Heard::Nothing;
        }
        std::uint8_t b = 0;
        return ::recv(fd_, &b, 1, 0) == 1 && b == kFrameStart ? Heard::Answer : Heard::HungUp;
    }

  private:
    int fd_;
    bool connected_ = false;
};

using Heard = RawClient::Heard;

// A new client asking for the model until it is answered or the time is up: what it heard last.
Heard NextClient(std::uint16_t port, std::chrono::milliseconds within) {
    Heard heard = Heard::HungUp;
    for (const auto until = Clock::now() + within;
         heard == Heard::HungUp && Clock::now() < until;) {
        RawClient next(port);
        next.Ask(REQ_EQINFO);
        heard = next.Listen(3s);
    }
    return heard;
}

bool Connect(CDevComm& dev, std::uint16_t port, const char* address = "127.0.0.1") {
    dev.Init();
    dev.SetAddress(address);
    dev.SetPort(port);
    return (std::string_view(address) == "::1" ? dev.ConnectTcp6() : dev.ConnectTcp()) == 1;
}

std::string EquipmentOf(CDevComm& dev) {
    if (dev.RequestEquipment() != 1 || dev.ReceiveAnswer(nullptr) != 100) {
        return "failed: " + dev.ErrorText();
    }
    return reinterpret_cast<const char*>(dev.GetData());
}

// Keeps the screens it served. Clients that say nothing, or ask and read nothing while answers
// pile up, hold up nobody: the last of kMaxClients places is served at once, one beyond is
// refused at once rather than left waiting, and a place comes free as a client leaves. A
// client idle for the limit (silent, or its writes standing still) is dropped, not before; one
// asking within it is served on. Garbage harms nobody; Stop returns promptly whoever is there.
TEST(SimServer, KeepsScreensStalledClientsHoldUpNobodyOneTooManyIsRefusedTheIdleAreDropped) {
    constexpr auto kLimit = 500ms;
    SimServer server;
    server.SetIdleLimit(kLimit);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    CDevComm dev;
    ASSERT_TRUE(Connect(dev, server.port()));
    const auto screen = [&] {
        EXPECT_EQ(dev.RequestScreen(), 1);
        EXPECT_EQ(dev.ReceiveAnswer(nullptr), 100);
        return Bytes(dev.GetData(), dev.GetData() + dev.GetDataLength());
    };
    ASSERT_FALSE(screen().empty());
    EXPECT_TRUE(server.instrument().ServedScreens().empty());
    server.instrument().KeepServedScreens(2);
    std::vector<Bytes> sent;
    for (int i = 0; i < 3; ++i) {
        server.instrument().SetScreenOverride(Bytes(100 + i, static_cast<std::uint8_t>(i)));
        sent.push_back(screen());
    }
    EXPECT_EQ(sent[2], Bytes(102, 2));
    EXPECT_EQ(server.instrument().ServedScreens(), (std::vector{sent[1], sent[2]}));
    server.instrument().SetScreenOverride(Bytes(kMaxAnswerBytes, 0x7E));
    const auto start = Clock::now();
    RawClient silent(server.port());
    auto leaving = std::make_unique<RawClient>(server.port());
    leaving->Send(Bytes{0x00, 0x7E, 0x7F, 0x7D, 0x7E, 0xFF, 0x7F, 0x41, 0x7E});
    leaving->Ask(REQ_EQINFO);
    EXPECT_EQ(leaving->Listen(2s), Heard::Answer) << "garbage skipped";
    std::vector<std::unique_ptr<RawClient>> stuck;  // more screens than any buffer holds
    while (stuck.size() < static_cast<std::size_t>(SimServer::kMaxClients - 3)) {
        stuck.push_back(std::make_unique<RawClient>(server.port(), true));
        stuck.back()->Ask(REQ_SCREEN, 32);
    }
    ASSERT_TRUE(silent.connected() && leaving->connected() && stuck.back()->connected());
    // The last place: answered, well within the engine's deadline.
    EXPECT_EQ(EquipmentOf(dev), "QV392B");
    EXPECT_LT(Clock::now() - start, 1s);
    // One beyond: hung up on at once, where a served client would hear nothing for the limit.
    RawClient extra(server.port());
    ASSERT_TRUE(extra.connected());
    extra.Ask(REQ_EQINFO);
    EXPECT_EQ(extra.Listen(3s), Heard::HungUp);
    EXPECT_EQ(server.connections(), SimServer::kMaxClients);
    leaving.reset();
    EXPECT_EQ(NextClient(server.port(), kLimit / 2), Heard::Answer) << "long before any drop";
    // Asking at a third of the limit for three times the limit, and on until the silent one
    // is dropped (within ten times the limit).
    Heard silentHeard = Heard::Nothing;
    auto silentFor = 0ms;
    for (auto spent = 0ms;
         spent < 3 * kLimit || (silentHeard == Heard::Nothing && spent < 10 * kLimit);
         spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)) {
        ASSERT_EQ(EquipmentOf(dev), "QV392B");
        if (silentHeard == Heard::Nothing &&
            (silentHeard = silent.Listen(kLimit / 3)) != Heard::Nothing) {
            silentFor = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        }
    }
    EXPECT_EQ(silentHeard, Heard::HungUp);
    EXPECT_GE(silentFor, kLimit) << "not before its limit";
    // The stuck ones are dropped too (within ten times the limit): every place but dev's and
    // one more takes a new client.
    constexpr auto kFresh = static_cast<std::size_t>(SimServer::kMaxClients - 2);
    std::size_t served = 0;
    for (const auto until = start + 10 * kLimit; served < kFresh && Clock::now() < until;) {
        std::vector<std::unique_ptr<RawClient>> fresh;
        while (fresh.size() < kFresh) {
            fresh.push_back(std::make_unique<RawClient>(server.port()));
            fresh.back()->Ask(REQ_EQINFO);
        }
        served =
            static_cast<std::size_t>(std::count_if(fresh.begin(), fresh.end(), [](const auto& c) {
                return c->Listen(3s) == Heard::Answer;
            }));
    }
    EXPECT_EQ(served, kFresh);
    const auto stop = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - stop, 1500ms);
}

// The loopback addresses alone unless told otherwise: what the system says is listening.
TEST(SimServer, ListensOnTheLoopbackAddressesAloneByDefault) {
    SimServer server;
    ASSERT_TRUE(server.Start("", 0)) << server.error();
    // /proc/net/tcp*: "sl local_address:port rem_address:port st ...", st 0A is LISTEN.
    std::set<std::string> listening;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (state == "0A" &&
                std::stoul(local.substr(colon + 1), nullptr, 16) == server.port()) {
                listening.insert(local.substr(0, colon));
            }
        }
    }
    const std::string v4 = "0100007F", v6 = "00000000000000000000000001000000";
    if (server.listening() == "127.0.0.1") {
        EXPECT_EQ(listening, std::set<std::string>{v4}) << "no IPv6 here";
    } else {
        EXPECT_EQ(server.listening(), "127.0.0.1 and ::1");
        EXPECT_EQ(listening, (std::set<std::string>{v4, v6}));
    }
    for (const bool ipv6 : {false, true}) {
        if (ipv6 && listening.size() < 2) {
            continue;
        }
        CDevComm dev;
        ASSERT_TRUE(Connect(dev, server.port(), ipv6 ? "::1" : "127.0.0.1"));
        EXPECT_EQ(EquipmentOf(dev), "QV392B");
    }
    SimServer second;
    EXPECT_FALSE(second.Start("127.0.0.1", server.port()));
    EXPECT_NE(second.error().find("cannot listen"), std::string::npos);
    EXPECT_FALSE(second.Start("not-an-address", 0));
}

// A simulator that runs for days keeps the last kKeptRecords requests and commands; it counts
// every command.
TEST(SimInstrument, KeepsTheLastRecordsAtItsEdgeAndCountsEveryCommand) {
    SimInstrument instrument;
    const auto command = [&instrument](std::size_t n) {
        const std::string text = "KEYP:" + std::to_string(n) + "\n";
        const Bytes payload(text.begin(), text.end());
        instrument.Handle(FrameView{FrameHeader{kCmdRequest, REQ_CMD, 1, 0}, payload});
    };
    for (std::size_t n = 1; n <= SimInstrument::kKeptRecords; ++n) {
        command(n);
    }
    auto commands = instrument.Commands();
    ASSERT_EQ(commands.size(), SimInstrument::kKeptRecords);
    EXPECT_EQ(commands.front().text, "KEYP:1");
    EXPECT_EQ(instrument.Requests().size(), SimInstrument::kKeptRecords);
    command(SimInstrument::kKeptRecords + 1);
    commands = instrument.Commands();
    ASSERT_EQ(commands.size(), SimInstrument::kKeptRecords);
    EXPECT_EQ(commands.front().text, "KEYP:2");
    EXPECT_EQ(commands.back().text, "KEYP:1001");
    EXPECT_EQ(instrument.LastCommand(), "KEYP:1001");
    EXPECT_EQ(instrument.Requests().size(), SimInstrument::kKeptRecords);
    EXPECT_EQ(instrument.CommandCount(), SimInstrument::kKeptRecords + 1);
    EXPECT_TRUE(instrument.WaitForCommands(SimInstrument::kKeptRecords + 1, 0ms));
    EXPECT_FALSE(instrument.WaitForCommands(SimInstrument::kKeptRecords + 2, 1ms));
    instrument.ClearRecords();
    EXPECT_TRUE(instrument.Commands().empty());
    EXPECT_EQ(instrument.CommandCount(), 0u);
}

}  // namespace
}  // namespace qv::sim
