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

#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "sim/SimServer.h"

namespace qv::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

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

// Keeps the screens it served; survives garbage; stops promptly under a client that never
// reads; reports bind failures.
TEST(SimServer, KeepsScreensSurvivesGarbageStopsPromptlyAndReportsBindFailures) {
    SimServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    CDevComm dev;
    dev.Init();
    dev.SetPort(server.port());
    ASSERT_EQ(dev.ConnectTcp(), 1);
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
    dev.Disconnect();  // one client at a time
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(server.port()), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::uint8_t junk[] = {0x00, 0x7E, 0x7F, 0x7D, 0x7E, 0xFF, 0x7F, 0x41,
                                 0x7E, 0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E};  // then a request
    ASSERT_EQ(::send(fd, junk, sizeof junk, 0), static_cast<ssize_t>(sizeof junk));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    std::uint8_t answer[64];
    EXPECT_GT(::recv(fd, answer, sizeof answer, 0), 7);
    EXPECT_EQ(answer[0], 0x7F);
    // A client that never reads while the server writes big answers: Stop still returns.
    server.instrument().SetScreenOverride(Bytes(kMaxAnswerBytes, 0x7E));
    const auto entry = BuildFileEntry(kScreenFileName, kScreenFileSize);
    Bytes request(kMaxEncodedFrame);
    request.resize(EncodeFrame(FrameHeader{kCmdRequest, REQ_SCREEN, 1, 0}, *entry, request));
    for (int i = 0; i < 8; ++i) {
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    ::close(fd);

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
