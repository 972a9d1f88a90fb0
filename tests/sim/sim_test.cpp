// The simulated instrument itself: what the demo shows of the commands it receives, and its
// server seen from a raw loopback client. Its frames and faults are checked through the engine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <thread>

#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "sim/SimServer.h"

namespace qv::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Frames Ask(SimInstrument& sim, std::uint8_t code, std::span<const std::uint8_t> payload = {}) {
    return sim.Handle(FrameView{FrameHeader{kCmdRequest, code, 1, 0}, payload});
}

void Command(SimInstrument& sim, const std::string& text) {
    const auto payload = BuildTextPayload(text + "\n");
    EXPECT_TRUE(Ask(sim, REQ_CMD, *payload).empty());
}

TEST(SimInstrument, CommandsAreRecordedAndChangeThePicture) {
    SimInstrument sim;
    SimScreen reference(800, 600);
    const int startMarker = reference.markerIndex();
    Command(sim, "KEYP:RIGH");
    Command(sim, "KEYP:RIGHT");
    Command(sim, "KEYP 120,200");
    ASSERT_TRUE(sim.WaitForCommands(3, 1s));
    const auto commands = sim.Commands();
    EXPECT_EQ(commands[0].text, "KEYP:RIGH");
    EXPECT_EQ(commands[1].text, "KEYP:RIGHT");
    EXPECT_EQ(commands[2].text, "KEYP 120,200");
    EXPECT_FALSE(sim.WaitForCommands(4, 10ms));

    SimScreen screen(800, 600);
    screen.Apply("KEYP:LEFT");
    EXPECT_EQ(screen.markerIndex(), startMarker - SimScreen::kMarkerStep);
    screen.Apply("KEYP:NUM5");
    screen.Apply("KEYP:NUM0");
    EXPECT_EQ(screen.entry(), "50");
    screen.Apply("KEYP:QUAL:LOW");
    EXPECT_LT(screen.jpegQuality(), 50);
    // The touch cross is drawn where the touch pointed.
    const QImage before = reference.RenderImage();
    screen.Apply("KEYP 400,300");
    const QImage touched = screen.RenderImage();
    EXPECT_EQ(touched.pixelColor(412, 300), QColor(255, 80, 80));
    EXPECT_NE(before.pixelColor(412, 300), QColor(255, 80, 80));
}

// Every frame carries the number of commands applied; a client reads it off the picture it
// drew, at any of the panels' sizes and at the lowest JPEG quality.
TEST(SimInstrument, FramesCarryTheCommandCount) {
    for (const auto& [w, h] : {std::pair{800, 600}, std::pair{800, 480}}) {
        SimScreen screen(w, h);
        screen.Apply("KEYP:QUAL:LOW");
        for (const int commands : {1, 2, 77, 1000, 40000}) {
            while (screen.commandCount() < static_cast<std::uint64_t>(commands)) {
                screen.Apply("KEYP:NUM5");
            }
            const auto jpeg = screen.Render();
            QImage decoded;
            ASSERT_TRUE(decoded.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPG"));
            for (const QSize drawn : {QSize(w, h), QSize(680, 510), QSize(559, 419)}) {
                const QImage image =
                    decoded.scaled(drawn, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                EXPECT_EQ(SimScreen::ReadCommandStamp(image, w, h), commands)
                    << w << "x" << h << " drawn " << drawn.width() << "x" << drawn.height();
            }
        }
    }
    // A picture without the strip gives nothing.
    QImage blank(800, 600, QImage::Format_RGB32);
    blank.fill(Qt::black);
    EXPECT_FALSE(SimScreen::ReadCommandStamp(blank, 800, 600));
}

TEST(SimInstrument, KeepsTheScreensItServed) {
    SimInstrument sim;
    const auto entry = BuildFileEntry(kScreenFileName, kScreenFileSize);
    // One screen answer, its payloads joined.
    const auto screen = [&] {
        std::vector<std::uint8_t> joined;
        FrameAssembler a;
        for (const auto& f : Ask(sim, REQ_SCREEN, *entry)) {
            std::span<const std::uint8_t> rest(f);
            while (!rest.empty()) {
                const auto r = a.Feed(rest);
                rest = rest.subspan(r.consumed);
                if (r.status == FrameAssembler::Status::Frame) {
                    joined.insert(joined.end(), a.frame().payload.begin(), a.frame().payload.end());
                }
            }
        }
        return joined;
    };
    ASSERT_FALSE(screen().empty());
    EXPECT_TRUE(sim.ServedScreens().empty());
    sim.KeepServedScreens(2);
    std::vector<std::vector<std::uint8_t>> sent;
    for (int i = 0; i < 3; ++i) {
        sim.SetScreenOverride(std::vector<std::uint8_t>(100 + i, static_cast<std::uint8_t>(i)));
        sent.push_back(screen());
    }
    const auto kept = sim.ServedScreens();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], sent[1]);
    EXPECT_EQ(kept[1], sent[2]);
}

// A plain client socket to the server.
int Dial(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

TEST(SimServer, SurvivesGarbageAndStopsPromptly) {
    SimServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    const int fd = Dial(server.port());
    const std::uint8_t junk[] = {0x00, 0x7E, 0x7F, 0x7D, 0x7E, 0xFF, 0x7F, 0x41, 0x7E};
    ASSERT_EQ(::send(fd, junk, sizeof junk, 0), static_cast<ssize_t>(sizeof junk));
    const std::uint8_t request[] = {0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E};
    ASSERT_EQ(::send(fd, request, sizeof request, 0), 7);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    std::uint8_t answer[64];
    EXPECT_GT(::recv(fd, answer, sizeof answer, 0), 7);
    EXPECT_EQ(answer[0], 0x7F);

    // A client that never reads while the server writes big answers: Stop still returns.
    server.instrument().SetScreenOverride(std::vector<std::uint8_t>(kMaxAnswerBytes, 0x7E));
    const auto entryFrame = [] {
        const auto entry = BuildFileEntry(kScreenFileName, kScreenFileSize);
        std::vector<std::uint8_t> out(kMaxEncodedFrame);
        out.resize(EncodeFrame(FrameHeader{kCmdRequest, REQ_SCREEN, 1, 0}, *entry, out));
        return out;
    }();
    for (int i = 0; i < 8; ++i) {
        ::send(fd, entryFrame.data(), entryFrame.size(), MSG_NOSIGNAL);
    }
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - start, 1500ms);
    ::close(fd);
}

TEST(SimServer, ServesIpv6AndReportsBindFailures) {
    SimServer server;
    if (!server.Start("::1", 0)) {
        GTEST_SKIP() << "no IPv6 loopback: " << server.error();
    }
    SimServer second;
    EXPECT_FALSE(second.Start("::1", server.port()));
    EXPECT_NE(second.error().find("cannot listen"), std::string::npos);
    EXPECT_FALSE(second.Start("not-an-address", 0));
}

}  // namespace
}  // namespace qv::sim
