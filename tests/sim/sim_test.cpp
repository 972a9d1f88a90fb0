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
