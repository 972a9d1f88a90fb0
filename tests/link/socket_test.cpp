// The TCP transport's own rules, against a simulated instrument on loopback.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>

#include "link/CSocketComm.h"
#include "sim/SimServer.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class SocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start("127.0.0.1", 0));
        socket_.SetService(std::to_string(server_.port()));
    }
    sim::SimServer server_;
    CSocketComm socket_;
};

TEST_F(SocketTest, SecondConnectLeavesTheOpenSocketAlone) {
    ASSERT_TRUE(socket_.ConnectTo("127.0.0.1"));
    EXPECT_FALSE(socket_.ConnectTo("127.0.0.1"));
    EXPECT_TRUE(socket_.IsOpen());
    const std::array<unsigned char, 7> request{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E};
    EXPECT_EQ(socket_.WriteComm(request.data(), 7), 7);
    std::array<unsigned char, 64> answer{};
    ASSERT_TRUE(socket_.WaitReadable(2s));
    EXPECT_GT(socket_.ReadComm(answer.data(), answer.size(), 100000), 0);
    EXPECT_EQ(answer[0], 0x7F);
}

TEST_F(SocketTest, ReadsAreBoundedAndReportAClosedPeer) {
    std::array<unsigned char, 16> buf{};
    EXPECT_EQ(socket_.ReadComm(buf.data(), buf.size(), 10), 0) << "no socket";
    EXPECT_EQ(socket_.WriteComm(buf.data(), 1), 0) << "no socket";
    ASSERT_TRUE(socket_.ConnectTo("127.0.0.1"));
    EXPECT_EQ(socket_.ReadComm(nullptr, 16, 10), 0);
    const auto start = Clock::now();
    EXPECT_EQ(socket_.ReadComm(buf.data(), buf.size(), 10), 0);
    EXPECT_EQ(socket_.ReadComm(buf.data(), buf.size(), 200), 0);  // 200 us
    EXPECT_LT(Clock::now() - start, 1s);
    server_.Stop();
    ASSERT_TRUE(socket_.WaitReadable(2s));
    EXPECT_EQ(socket_.ReadComm(buf.data(), buf.size(), 10), -1);
}

// The time-out value is t / 1000 seconds plus t % 1000 microseconds: two units, not
// milliseconds throughout.
TEST_F(SocketTest, ReadWaitIsSecondsAndMicroseconds) {
    using std::chrono::microseconds;
    EXPECT_EQ(CSocketComm::ReadWait(10), microseconds(10));
    EXPECT_EQ(CSocketComm::ReadWait(999), microseconds(999));
    EXPECT_EQ(CSocketComm::ReadWait(1000), microseconds(1000000));
    EXPECT_EQ(CSocketComm::ReadWait(2500), microseconds(2000500));
    ASSERT_TRUE(socket_.ConnectTo("127.0.0.1"));
    std::array<unsigned char, 16> buf{};
    const auto start = Clock::now();
    EXPECT_EQ(socket_.ReadComm(buf.data(), buf.size(), 1500), 0);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 990ms);
    EXPECT_LT(took, 1300ms) << "1500 is 1 s and 500 us, not 1.5 s";
}

TEST_F(SocketTest, StopWhileAnotherThreadWaits) {
    ASSERT_TRUE(socket_.ConnectTo("127.0.0.1"));
    std::thread waiter([&] { socket_.WaitReadable(5s); });
    std::this_thread::sleep_for(50ms);
    const auto start = Clock::now();
    socket_.StopComm();
    waiter.join();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(socket_.IsOpen());
}

TEST(SocketNames, AddressLookups) {
    CSocketComm socket;
    sockaddr_in a{};
    EXPECT_TRUE(socket.GetSockAddress(a, "127.0.0.1", "66"));
    EXPECT_EQ(ntohs(a.sin_port), 66);
    EXPECT_EQ(ntohl(a.sin_addr.s_addr), 0x7F000001u);
    EXPECT_EQ(socket.GetHostAddress("10.1.2.3"), 0x0A010203u);
    EXPECT_EQ(socket.GetHostAddress("no.such.host.invalid"), 0xFFFFFFFFu);
    std::array<char, 260> name{};
    EXPECT_TRUE(socket.GetLocalName(name.data(), name.size()));
    EXPECT_GT(std::strlen(name.data()), 0u);
    EXPECT_FALSE(socket.GetLocalName(name.data(), 1));
}

}  // namespace
}  // namespace qv
