// The engine over loopback against the simulated instrument and peers that misbehave on
// purpose; each limit of an answer on a virtual clock; abort and close from another thread.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

#include "link/CInterface.h"
#include "link/CSocketComm.h"
#include "tests/fuzz/Fuzz.h"
#include "tests/link/SimPeer.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

// The caller's Poll loop: until the answer completes (100) or fails.
int Await(CDevComm& dev) {
    int p = 0;
    while ((p = dev.Poll()) >= 0 && p < 100) {
    }
    return p;
}

auto OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

class Engine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer_.started());
        dev_.Init();
        ASSERT_TRUE(peer_.Connect(dev_));
    }
    sim::SimInstrument& sim() { return peer_.server.instrument(); }

    SimPeer peer_{kLoopV4};
    CDevComm dev_;
};

TEST_F(Engine, CommandsUploadsEquipmentInfoAndReconnectsThatLeakNoSocket) {
    // The longest command arrives whole, without its line feed; a longer one sends nothing.
    const std::string longest(kCommandTextMax, 'K');
    EXPECT_EQ(dev_.SendCommand("KEYP:LEFT\n"), 1);
    EXPECT_EQ(dev_.SendText(kCmdRequest, REQ_CMD, longest), 1);
    EXPECT_EQ(dev_.SendText(kCmdRequest, REQ_CMD, std::string(kTextMax + 1, 'x')), 0);
    EXPECT_EQ(dev_.ErrorText(), "STR_ERROR_PACKET");
    EXPECT_EQ(dev_.RequestFile(kCmdRequest, REQ_SCREEN, std::string(80, 'n'), 1), 0);
    ASSERT_TRUE(sim().WaitForCommands(2, 5s));
    EXPECT_EQ(sim().Commands()[0].text, "KEYP:LEFT");
    EXPECT_EQ(sim().Commands()[1].text, longest);
    // 10,000 bytes go out as three frames of the upload code; an empty upload is done at once.
    const auto data = RandomBytes(10000, 3);
    ASSERT_EQ(dev_.WriteData(kCmdRequest, 145, "up.bin", 10000, data.data()), 1);
    EXPECT_EQ(Await(dev_), 100);
    Bytes codes;
    for (const auto until = Clock::now() + 2s; codes.size() < 5 && Clock::now() < until;) {
        codes.clear();
        for (const auto& r : sim().Requests()) {
            codes.push_back(r.code);
        }
    }
    EXPECT_EQ(codes, (Bytes{REQ_CMD, REQ_CMD, 145, 145, 145})) << "a refused request sends nothing";
    ASSERT_EQ(dev_.WriteData(kCmdRequest, 145, "empty.bin", 0, nullptr), 1);
    EXPECT_EQ(dev_.Poll(), 100);
    sim().SetModel("QV384B");
    dev_.Disconnect();
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(peer_.Connect(dev_));
        ASSERT_EQ(dev_.SendRequest(kCmdRequest, REQ_EQINFO), 1);
        ASSERT_EQ(Await(dev_), 100);
        EXPECT_EQ(dev_.GetDataLength(), 7);
        EXPECT_STREQ(reinterpret_cast<const char*>(dev_.GetData()), "QV384B");
        dev_.Disconnect();
        EXPECT_EQ(dev_.IsConnected(), 0);
    }
    // The simulator in this process closes its side a moment after ours.
    for (const auto until = Clock::now() + 2s;
         OpenDescriptors() > before && Clock::now() < until;) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LE(OpenDescriptors(), before);
    EXPECT_EQ(dev_.SendRequest(kCmdRequest, REQ_EQINFO), 0);
}

TEST_F(Engine, WholeScreensThatCommandsFromAnotherThreadNeverDisturb) {
    const auto expected = RandomBytes(60000, 7);
    sim().SetScreenOverride(expected);
    const auto command = [](int i) { return "KEYP:NUM" + std::to_string(i); };
    std::atomic<int> failed{0};
    std::thread commands([&] {
        for (int i = 0; i < 500; ++i) {
            failed += dev_.SendText(kCmdRequest, REQ_CMD, command(i)) != 1;
        }
    });
    int good = 0;
    for (int i = 0; i < 100; ++i) {
        good += dev_.RequestScreen() == 1 && Await(dev_) == 100 && dev_.GetDataLength() == 60000 &&
                std::equal(expected.begin(), expected.end(), dev_.GetData());
    }
    commands.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(good, 100);
    ASSERT_TRUE(sim().WaitForCommands(500, 10s));
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(sim().Commands()[static_cast<std::size_t>(i)].text, command(i));
    }
    // A short answer after a long one: text readers stop at the zero after its data.
    sim().SetScreenOverride(Bytes{'x'});
    ASSERT_EQ(dev_.RequestScreen(), 1);
    ASSERT_EQ(Await(dev_), 100);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dev_.GetData())), "x");
}

// Every answer ends within its deadline, with its text, whatever the simulator's faults.
// Restarts and a flood of frames that never end: Deadline, on the link's clock.
struct PeerCase {
    const char* name;
    sim::SimFaults faults;
    int result;        // 100 or -1
    const char* text;  // the error text
    ms atLeast, atMost;
};

// clang-format off
const PeerCase kPeerCases[] = {
    {"SplitIntoSingleBytes", {.splitWrites = 1}, 100, "", 0ms, 10s},
    {"SplitWithGaps", {.splitWrites = 700, .splitGapUs = 3000}, 100, "", 0ms, 10s},
    {"SlowFrames", {.frameDelayMs = 150}, 100, "", 400ms, 5s},
    // Silent: one frame's worth of attempts. Hung up: every read fails at once, five pauses.
    {"Silent", {.silent = true}, -1, "STR_ERROR_TIMEOUT", 2000ms, 3 * CDevComm::kFrameDeadline},
    {"ClosesMidAnswer", {.closeAfterFrames = 2}, -1, "STR_ERROR_TIMEOUT", 150ms, 1500ms},
    {"GarbageBeforeFrame", {.garbageBeforeFrame = true}, -1, "STR_ERROR_PACKET", 0ms, 1s},
    {"BadChecksum", {.badChecksumEvery = 3}, -1, "STR_ERROR_CHECKSUM", 0ms, 1s},
    {"SkippedIndex", {.skipIndex = true}, -1, "Communication Error!", 0ms, 1s},
    {"FirstIndexOne", {.firstIndexOne = true}, -1, "Communication Error!", 0ms, 1s},
    {"OversizedFrame", {.oversizedFrame = true}, -1, "STR_ERROR_PACKET", 0ms, 1s},
    {"AnswerOverLimit", {.answerOverLimit = true}, -1, "STR_ERROR_PACKET", 0ms, 2s},
};
// clang-format on

void PrintTo(const PeerCase& c, std::ostream* os) {
    *os << c.name;
}

class Peers : public Engine, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(Peers, AnswerEndsInTimeWithItsText) {
    const PeerCase& c = GetParam();
    const Bytes screen = RandomBytes(20000, 11);
    sim().SetScreenOverride(screen);
    sim().SetFaults(c.faults);
    const auto start = Clock::now();
    ASSERT_EQ(dev_.RequestScreen(), 1);
    EXPECT_EQ(Await(dev_), c.result) << dev_.ErrorText();
    const auto took = Clock::now() - start;
    const char* data = reinterpret_cast<const char*>(dev_.GetData());
    if (c.result != 100) {
        EXPECT_EQ(dev_.ErrorText(), c.text);
        EXPECT_EQ(data[dev_.GetDataLength()], 0) << "nothing written past the answer";
    } else {
        EXPECT_EQ(std::string(data, static_cast<std::size_t>(dev_.GetDataLength())),
                  std::string(screen.begin(), screen.end()));
    }
    EXPECT_GE(took, c.atLeast);
    EXPECT_LE(took, c.atMost);
}

INSTANTIATE_TEST_SUITE_P(Cases, Peers, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

using fuzz::TimedPeer;

// Frames of 4,096 bytes (the grace unit) or one byte, sent at the given times.
std::vector<TimedPeer::Event> Timed(std::uint8_t count, const std::vector<std::pair<ms, int>>& at,
                                    std::size_t payload = Link::kGraceBytes) {
    const std::string bytes(payload, 'x');
    std::vector<TimedPeer::Event> out;
    out.reserve(at.size());
    for (const auto& [when, index] : at) {
        out.push_back({when, Frames(count, {{index, bytes}})});
    }
    return out;
}

// The frames of an answer carrying payload, kMaxPayload bytes each, all at once; or, when
// last is given, their bytes one by one, evenly up to the last one's time.
std::vector<TimedPeer::Event> Screen(const Bytes& payload, ms last = 0ms) {
    const std::size_t count = (payload.size() + kMaxPayload - 1) / kMaxPayload;
    std::vector<TimedPeer::Event> out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view part(reinterpret_cast<const char*>(payload.data()) + i * kMaxPayload,
                                    std::min(kMaxPayload, payload.size() - i * kMaxPayload));
        out.push_back(
            {0ms, Frames(static_cast<std::uint8_t>(count), {{static_cast<int>(i), part}})});
    }
    if (last > 0ms) {
        const Bytes wire = out.front().bytes;
        out.clear();
        for (std::size_t i = 0; i < wire.size(); ++i) {
            out.push_back(
                {last * static_cast<int>(i) / static_cast<int>(wire.size() - 1), {wire[i]}});
        }
    }
    return out;
}

struct DeadlineCase {
    const char* name;
    std::vector<TimedPeer::Event> events;
    int result;
    ms took;                 // on the link's clock, from the request to the result
    std::size_t length = 0;  // of the answer joined
    const char* text = "STR_ERROR_TIMEOUT";
};

// Each limit of one answer with the link's own values, one case just inside, one just out.
// One frame has 2.3 s, whether the peer is silent or its frame never ends; bytes flowing all
// along do not stretch it. The answer may take 10 s plus 1 s per 4,096 bytes delivered so far.
// Nine 4 KB frames 2 s apart (each within its frame's 2.3 s): after eight the answer may run
// to 18 s, so the ninth is in time at 17.999 s and late at 18.001 s. A steady 7 KB/s screen
// of 100 KB (25 frames, one every 585 ms) takes 14.6 s and completes. A trickle of one-byte
// frames ends at 10 s; restarts at index 0 (every 585 ms, for ever) keep only the last 4 KB:
// they end at 11 s.
std::vector<DeadlineCase> DeadlineCases() {
    std::vector<std::pair<ms, int>> edge, steady, trickle, restarts;
    for (int i = 0; i < 8; ++i) {
        edge.push_back({2000ms * (i + 1) - 1ms, i});
    }
    auto late = edge;
    edge.push_back({17999ms, 8});
    late.push_back({18001ms, 8});
    for (int i = 0; i < 25; ++i) {
        steady.push_back({585ms * (i + 1), i});
    }
    for (int i = 0; i < 250; ++i) {
        trickle.push_back({50ms * (i + 1), i});
        restarts.push_back({585ms * (i + 1), 0});
    }
    std::vector<TimedPeer::Event> endless{{100ms, {0x7F, 0x41, REQ_SCREEN, 1, 0}}};
    for (int i = 2; i < 100; ++i) {
        endless.push_back({100ms * i, {0x01}});
    }
    // The encoder refuses a frame over the largest, so its bytes are laid out by hand.
    Bytes oversized{0x7F, 0x41, REQ_SCREEN, 1, 0};
    oversized.insert(oversized.end(), kMaxPayload + 1, 0x11);
    oversized.insert(oversized.end(), {0xB3, 0x7E});  // the sum is right
    const Bytes small = RandomBytes(40);
    constexpr ms kFrame = Link::kFrameDeadline;
    // clang-format off
    return {
        {"SilentForAFrame", {}, -1, kFrame},
        {"FrameWithoutEnd", endless, -1, kFrame},
        {"FrameDoneJustInTime", Screen(small, kFrame - 1ms), 100, kFrame - 1ms, small.size()},
        {"FrameDoneJustTooLate", Screen(small, kFrame + 1ms), -1, kFrame},
        {"LargestFrame", Screen(RandomBytes(kMaxPayload)), 100, 0ms, kMaxPayload},
        {"AByteOverTheLargestFrame", {{0ms, oversized}}, -1, 0ms, 0, "STR_ERROR_PACKET"},
        {"LargestAnswer", Screen(RandomBytes(kMaxAnswerBytes)), 100, 0ms, kMaxAnswerBytes},
        {"AByteOverTheLargestAnswer", Screen(RandomBytes(kMaxAnswerBytes + 1)), -1, 0ms, 0, "STR_ERROR_PACKET"},
        {"InTimeAtTheEdge", Timed(9, edge), 100, 17999ms, 9 * Link::kGraceBytes},
        {"LateAtTheEdge", Timed(9, late), -1, 18000ms},
        {"SteadySevenKilobytesASecond", Timed(25, steady), 100, 14625ms, 25 * Link::kGraceBytes},
        {"ByteTrickle", Timed(255, trickle, 1), -1, Link::kAnswerDeadline},
        {"EndlessRestarts", Timed(2, restarts), -1, Link::kAnswerDeadline + 1s},
    };
    // clang-format on
}

void PrintTo(const DeadlineCase& c, std::ostream* os) {
    *os << c.name;
}

class Deadline : public ::testing::TestWithParam<DeadlineCase> {};

TEST_P(Deadline, EndsAtEachLimitOfAnAnswerByPollOrReceive) {
    const DeadlineCase& c = GetParam();
    for (const bool byPoll : {false, true}) {
        SCOPED_TRACE(byPoll ? "Poll loop" : "ReceiveAnswer");
        fuzz::VirtualClock clock;
        CDevComm dev;
        dev.Init();
        dev.SetClock(&clock);
        dev.Attach(std::make_shared<TimedPeer>(clock, c.events));
        const auto start = clock.Now();
        ASSERT_EQ(dev.RequestScreen(), 1);
        EXPECT_EQ(byPoll ? Await(dev) : dev.ReceiveAnswer(nullptr), c.result) << dev.ErrorText();
        EXPECT_EQ(std::chrono::duration_cast<ms>(clock.Now() - start), c.took);
        if (c.result == 100) {
            EXPECT_EQ(static_cast<std::size_t>(dev.GetDataLength()), c.length);
        } else {
            EXPECT_EQ(dev.ErrorText(), c.text);
        }
        EXPECT_EQ(dev.GetData()[dev.GetDataLength()], 0) << "nothing written past the answer";
        dev.Attach(nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Deadline, ::testing::ValuesIn(DeadlineCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A silent peer: the abort flag ends a blocked receive within one read window and keeps the
// link; Close ends the read itself and latches. Close also ends a connect in progress.
TEST_F(Engine, AbortAndCloseEndABlockedReceiveOrAConnectInProgressAtOnce) {
    sim().SetFaults({.silent = true});
    for (const bool viaClose : {false, true}) {
        SCOPED_TRACE(viaClose ? "Close" : "abort flag");
        ASSERT_EQ(dev_.RequestScreen(), 1);
        std::atomic<int> abort{0};
        auto receive = std::async(std::launch::async, [&] { return dev_.ReceiveAnswer(&abort); });
        ASSERT_EQ(receive.wait_for(300ms), std::future_status::timeout) << "the peer is silent";
        const auto t0 = Clock::now();
        abort.store(1);
        if (viaClose) {
            dev_.Close();
        }
        ASSERT_EQ(receive.wait_for(2s), std::future_status::ready);
        EXPECT_EQ(receive.get(), kAnswerAborted);
        EXPECT_LT(Clock::now() - t0, viaClose ? 200ms : 700ms);
        EXPECT_EQ(dev_.IsConnected(), viaClose ? 0 : 1);
    }
    // The peer still listens, yet nothing opens or goes out again.
    Answer answer;
    const auto t1 = Clock::now();
    EXPECT_EQ(dev_.link().Exchange(RequestFrame(REQ_EQINFO), answer), -1);
    EXPECT_EQ(answer.error, "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(dev_.ConnectTcp(), 0);
    EXPECT_FALSE(dev_.link().Attach(std::make_shared<CInterface>()));
    EXPECT_EQ(dev_.ActiveMethod(), 0);
    EXPECT_LT(Clock::now() - t1, 200ms);
    // A listener whose queue is full: the kernel drops further connection requests.
    std::vector<int> fds{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fds[0], reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(::listen(fds[0], 0), 0);
    ::getsockname(fds[0], reinterpret_cast<sockaddr*>(&a), &len);
    for (int i = 0; i < 4; ++i) {
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        // In progress, or dropped: either way the queue stays full.
        (void)::connect(fds.back(), reinterpret_cast<sockaddr*>(&a), len);
    }
    CDevComm dev;
    dev.SetPort(ntohs(a.sin_port));
    auto connect = std::async(std::launch::async, [&] { return dev.ConnectTcp(); });
    const bool waits = connect.wait_for(300ms) == std::future_status::timeout;
    const auto t0 = Clock::now();
    dev.Close();
    ASSERT_EQ(connect.wait_for(1s), std::future_status::ready);
    const int result = connect.get();
    for (const int fd : fds) {
        ::close(fd);
    }
    if (!waits) {
        GTEST_SKIP() << "this kernel accepts past a full queue";
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dev.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_LT(Clock::now() - t0, 500ms);
}

TEST_F(Engine, FailuresSaySoAndAreBoundedASecondConnectLeavesTheLinkIpv6ReplacesIt) {
    sim().SetScreenOverride(Bytes{'O', 'N', 'E'});
    EXPECT_EQ(dev_.ConnectTcp(), 0);
    EXPECT_EQ(dev_.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(dev_.LinkFlag(), 0);
    ASSERT_EQ(dev_.RequestScreen(), 1);
    ASSERT_EQ(dev_.ReceiveAnswer(nullptr), 100) << "the first link still works";
    // IPv6 closes the open socket first; nothing listens on ::1 at that port.
    dev_.SetAddress("::1");
    EXPECT_EQ(dev_.ConnectTcp6(), 0);
    EXPECT_EQ(dev_.ActiveMethod(), 0);
    // The peer goes away in the middle of an answer.
    ASSERT_TRUE(peer_.Connect(dev_));
    sim().SetFaults({.silent = true});
    ASSERT_EQ(dev_.RequestScreen(), 1);
    peer_.server.Stop();
    dev_.SetErrorText("a stale text");
    int sent = 1;
    for (int i = 0; i < 100 && sent == 1; ++i) {
        sent = dev_.SendCommand("KEYP:MODE\n");
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(dev_.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_LE(dev_.LastSendResult(), 0);
    dev_.Disconnect();
    dev_.SetErrorText("a stale text");
    EXPECT_EQ(dev_.SendCommand("KEYP:MODE\n"), 0);
    EXPECT_EQ(dev_.RequestScreen(), 0);
    EXPECT_EQ(dev_.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(dev_.ActiveMethod(), 0);
    const auto start = Clock::now();  // nobody listens on the port now
    for (const char* host : {"127.0.0.1", "255.255.255.255", "no.such.host.invalid"}) {
        dev_.SetAddress(host);
        EXPECT_EQ(dev_.ConnectTcp(), 0) << host;
        EXPECT_EQ(dev_.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
        EXPECT_EQ(dev_.IsConnected(), 0);
    }
    EXPECT_EQ(dev_.ConnectTcp6(), 0);
    EXPECT_LT(Clock::now() - start, 5s);
    // t / 1000 seconds plus t % 1000 microseconds: 1500 is 1 s and 500 us, not 1.5 s.
    EXPECT_EQ(CSocketComm::ReadWait(999), std::chrono::microseconds(999));
    EXPECT_EQ(CSocketComm::ReadWait(2500), std::chrono::microseconds(2000500));
    CSocketComm socket;
    std::array<unsigned char, 16> buf{};
    EXPECT_EQ(socket.ReadComm(buf.data(), 16, 10), 0);
    EXPECT_EQ(socket.WriteComm(buf.data(), 1), 0);
}

}  // namespace
}  // namespace qv::test
