// Every answer ends within its deadline whatever the instrument sends: peers that trickle,
// flood, restart, stay silent or hang up, over real loopback sockets; the deadline itself on a
// virtual clock; and a receive that an abort or a Close from another thread ends at once.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <future>
#include <string>
#include <thread>

#include "link/CDevComm.h"
#include "tests/link/MaliciousPeer.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

int ReceiveByPoll(CDevComm& dev) {
    for (;;) {
        const int p = dev.Poll();
        if (p < 0 || p >= 100) {
            return p;
        }
    }
}

constexpr auto kDeadline = 3000ms;
// Long enough for whole frames to arrive in time, short enough not to wait it out for long.
constexpr auto kShortDeadline = 800ms;

struct PeerCase {
    const char* name;
    MaliciousPeer::Script script;
    bool closeWhenDone;
    int result;            // 100 or -1
    const char* expected;  // the error text, or the joined answer
    std::chrono::milliseconds atLeast;
    std::chrono::milliseconds atMost;
    std::chrono::milliseconds deadline = kDeadline;
};

const PeerCase kPeerCases[] = {
    // Valid frames of a 255-frame answer, one byte every 50 ms: each frame is in time, the
    // answer never would be.
    {"TrickledFrames",
     [](MaliciousPeer::Wire& w) {
         for (int i = 0; i < 255; ++i) {
             for (const std::uint8_t b :
                  Frame(REQ_SCREEN, 255, static_cast<std::uint8_t>(i), {0x55})) {
                 if (!w.Send({b}) || !w.Pause(50ms)) {
                     return;
                 }
             }
         }
     },
     false, -1, "STR_ERROR_TIMEOUT", kShortDeadline - 100ms, kShortDeadline + 600ms,
     kShortDeadline},
    // An endless stream of valid first frames of a 255-frame answer.
    {"EndlessFirstFrames",
     [](MaliciousPeer::Wire& w) {
         const Bytes frame = Frame(REQ_SCREEN, 255, 0, Bytes(100, 0x7E));
         Bytes burst;
         for (int i = 0; i < 50; ++i) {
             burst.insert(burst.end(), frame.begin(), frame.end());
         }
         while (w.Send(burst)) {
         }
     },
     false, -1, "STR_ERROR_TIMEOUT", kShortDeadline - 100ms, kShortDeadline + 600ms,
     kShortDeadline},
    // Two frames of an answer, then the answer again from its first frame.
    {"RestartsAtIndexZero",
     [](MaliciousPeer::Wire& w) {
         Bytes all;
         for (const Bytes& f :
              {Frame(REQ_SCREEN, 3, 0, Text("OLD0")), Frame(REQ_SCREEN, 3, 1, Text("OLD1")),
               Frame(REQ_SCREEN, 3, 0, Text("NEW0")), Frame(REQ_SCREEN, 3, 1, Text("NEW1")),
               Frame(REQ_SCREEN, 3, 2, Text("NEW2"))}) {
             all.insert(all.end(), f.begin(), f.end());
         }
         w.Send(all);
     },
     false, 100, "NEW0NEW1NEW2", 0ms, 1000ms},
    // Accepts, reads the request, never answers: one frame's worth of attempts.
    {"NeverAnswers", [](MaliciousPeer::Wire&) {}, false, -1, "STR_ERROR_TIMEOUT", 2000ms, 2900ms},
    // Hangs up at once: every read fails at once, five short pauses.
    {"ClosesAtOnce", [](MaliciousPeer::Wire&) {}, true, -1, "STR_ERROR_TIMEOUT", 200ms, 1000ms},
};

void PrintTo(const PeerCase& c, std::ostream* os) {
    *os << c.name;
}

// Through the design's Poll loop and through ReceiveAnswer alike.
class BoundedAnswers : public ::testing::TestWithParam<std::tuple<PeerCase, bool>> {};

TEST_P(BoundedAnswers, EndWithinTheDeadlineWithTheirText) {
    const auto& [c, byPoll] = GetParam();
    MaliciousPeer peer(c.script, c.closeWhenDone);
    ASSERT_NE(peer.port(), 0);
    CDevComm dev;
    dev.Init(nullptr);
    dev.SetAnswerDeadline(c.deadline);
    dev.SetAddress("127.0.0.1");
    dev.SetPort(peer.port());
    ASSERT_EQ(dev.ConnectTcp(), 1);
    dev.SetErrorText("");

    const auto start = Clock::now();
    ASSERT_EQ(dev.RequestScreen(), 1);
    const int result = byPoll ? ReceiveByPoll(dev) : dev.ReceiveAnswer(nullptr);
    const auto took = Clock::now() - start;

    EXPECT_EQ(result, c.result) << dev.ErrorText();
    if (c.result == 100) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(dev.GetData()),
                              static_cast<std::size_t>(dev.GetDataLength())),
                  c.expected);
    } else {
        EXPECT_EQ(dev.ErrorText(), c.expected);
    }
    EXPECT_GE(took, c.atLeast);
    EXPECT_LE(took, c.atMost);
    peer.Stop();
}

INSTANTIATE_TEST_SUITE_P(Peers, BoundedAnswers,
                         ::testing::Combine(::testing::ValuesIn(kPeerCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "ByPoll" : "ByReceiveAnswer");
                         });

// ---- the deadline on a virtual clock ----

class VirtualClock : public LinkClock {
  public:
    TimePoint Now() override { return now_.load(); }
    void Sleep(std::chrono::milliseconds time) override { Advance(time); }
    void Advance(std::chrono::nanoseconds time) {
        now_.store(now_.load() + std::chrono::duration_cast<TimePoint::duration>(time));
    }

  private:
    std::atomic<TimePoint> now_{TimePoint{} + 1h};
};

// Hands out one queued chunk per read, each after a virtual pause; then silence.
class ScriptedTransport : public Transport {
  public:
    ScriptedTransport(VirtualClock& clock, std::function<Bytes(int read)> next,
                      std::chrono::milliseconds pause)
        : clock_(clock), next_(std::move(next)), pause_(pause) {}
    int Method() const override { return kMethodTcp; }
    bool IsOpen() const override { return !closed_.load(); }
    int WriteFrame(std::span<const std::uint8_t> frame) override {
        return static_cast<int>(frame.size());
    }
    int Read(std::span<std::uint8_t> buffer, std::chrono::milliseconds maxWait) override {
        const Bytes chunk = next_(reads_++);
        if (chunk.empty()) {
            clock_.Advance(std::min(maxWait, 460ms));
            return 0;
        }
        clock_.Advance(std::min<std::chrono::nanoseconds>(pause_, maxWait));
        const std::size_t n = std::min(chunk.size(), buffer.size());
        std::copy_n(chunk.begin(), n, buffer.begin());
        return static_cast<int>(n);
    }
    void Close() override { closed_.store(true); }
    int reads() const { return reads_; }

  private:
    VirtualClock& clock_;
    std::function<Bytes(int)> next_;
    std::chrono::milliseconds pause_;
    std::atomic<bool> closed_{false};
    int reads_ = 0;
};

TEST(AnswerDeadline, TenSecondsFromTheRequestWhateverFlows) {
    struct Case {
        const char* name;
        std::function<Bytes(int)> next;
        std::chrono::milliseconds pause;
    };
    const Bytes first = Frame(REQ_SCREEN, 255, 0, Bytes(10, 1));
    const Case cases[] = {
        {"first frames, 20 ms apart", [&](int) { return first; }, 20ms},
        {"every frame of a 255-frame answer, 100 ms apart",
         [&](int i) { return Frame(REQ_SCREEN, 255, static_cast<std::uint8_t>(i % 255), {1}); },
         100ms},
        {"7-byte frames, one byte every 300 ms",
         [&](int i) {
             const Bytes frame = Frame(REQ_SCREEN, 255, static_cast<std::uint8_t>(i / 7), {});
             return Bytes{frame[static_cast<std::size_t>(i % 7)]};
         },
         300ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualClock clock;
        CDevComm dev;
        dev.Init(nullptr);
        dev.SetClock(&clock);
        auto transport = std::make_shared<ScriptedTransport>(clock, c.next, c.pause);
        dev.Attach(transport);
        const auto start = clock.Now();
        ASSERT_EQ(dev.RequestScreen(), 1);
        EXPECT_EQ(dev.ReceiveAnswer(nullptr), -1);
        EXPECT_EQ(dev.ErrorText(), "STR_ERROR_TIMEOUT");
        const auto took = clock.Now() - start;
        EXPECT_GE(took, CDevComm::kAnswerDeadline - c.pause);
        EXPECT_LE(took, CDevComm::kAnswerDeadline + c.pause);
    }
}

// Bytes that never make a frame: one frame is given up at its own deadline, long before the
// answer's.
TEST(AnswerDeadline, AFrameThatNeverEndsEndsAtTheFrameDeadline) {
    VirtualClock clock;
    CDevComm dev;
    dev.Init(nullptr);
    dev.SetClock(&clock);
    const Bytes start{0x7F, 0x41, REQ_SCREEN, 1, 0};
    dev.Attach(std::make_shared<ScriptedTransport>(
        clock, [&](int i) { return i < 5 ? Bytes{start[static_cast<std::size_t>(i)]} : Bytes{1}; },
        400ms));
    const auto begin = clock.Now();
    ASSERT_EQ(dev.RequestScreen(), 1);
    EXPECT_EQ(dev.ReceiveAnswer(nullptr), -1);
    EXPECT_EQ(dev.ErrorText(), "STR_ERROR_TIMEOUT");
    const auto took = clock.Now() - begin;
    EXPECT_GE(took, 2300ms - 400ms);
    EXPECT_LE(took, 2300ms + 400ms);
}

TEST(AnswerDeadline, AnAnswerInTimeIsWhole) {
    VirtualClock clock;
    CDevComm dev;
    dev.Init(nullptr);
    dev.SetClock(&clock);
    // 97 frames 90 ms apart: 8.7 s, inside the deadline.
    dev.Attach(std::make_shared<ScriptedTransport>(
        clock,
        [](int i) {
            return i < 97 ? Frame(REQ_SCREEN, 97, static_cast<std::uint8_t>(i), Bytes(4096, 0x7D))
                          : Bytes{};
        },
        90ms));
    ASSERT_EQ(dev.RequestScreen(), 1);
    EXPECT_EQ(dev.ReceiveAnswer(nullptr), 100) << dev.ErrorText();
    EXPECT_EQ(dev.GetDataLength(), 97 * 4096);
}

// ---- abort and close ----

TEST(AnswerStop, AbortAndCloseEndABlockedReceiveAtOnce) {
    for (const bool viaClose : {false, true}) {
        SCOPED_TRACE(viaClose ? "Close" : "abort flag");
        MaliciousPeer peer([](MaliciousPeer::Wire&) {});
        CDevComm dev;
        dev.Init(nullptr);
        dev.SetAddress("127.0.0.1");
        dev.SetPort(peer.port());
        ASSERT_EQ(dev.ConnectTcp(), 1);
        ASSERT_EQ(dev.RequestScreen(), 1);
        std::atomic<int> abort{0};
        auto receive = std::async(std::launch::async, [&] { return dev.ReceiveAnswer(&abort); });
        ASSERT_EQ(receive.wait_for(300ms), std::future_status::timeout) << "the peer is silent";
        const auto t0 = Clock::now();
        abort.store(1);
        if (viaClose) {
            dev.Close();
        }
        ASSERT_EQ(receive.wait_for(2s), std::future_status::ready);
        EXPECT_EQ(receive.get(), kAnswerAborted);
        // One read window at most for the flag alone; a close ends the read itself.
        EXPECT_LT(Clock::now() - t0, viaClose ? 200ms : 700ms);
        EXPECT_EQ(dev.IsConnected(), 0 + (viaClose ? 0 : 1));
        peer.Stop();
    }
}

TEST(AnswerStop, CloseEndsAConnectInProgress) {
    // A listener whose queue is full: the kernel drops further connection requests, so a
    // connect waits for its own time-out.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }
    CDevComm dev;
    dev.Init(nullptr);
    dev.SetAddress("127.0.0.1");
    dev.SetPort(ntohs(a.sin_port));
    auto connect = std::async(std::launch::async, [&] { return dev.ConnectTcp(); });
    if (connect.wait_for(300ms) == std::future_status::ready) {
        connect.get();
        for (const int fd : fillers) {
            ::close(fd);
        }
        ::close(listener);
        GTEST_SKIP() << "this kernel accepts past a full queue";
    }
    const auto t0 = Clock::now();
    dev.Close();
    ASSERT_EQ(connect.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(connect.get(), 0);
    EXPECT_EQ(dev.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_LT(Clock::now() - t0, 500ms);
    for (const int fd : fillers) {
        ::close(fd);
    }
    ::close(listener);
}

// ---- sends ----

TEST(Sends, AFailedWriteSaysSo) {
    MaliciousPeer peer([](MaliciousPeer::Wire&) {}, true);
    CDevComm dev;
    dev.Init(nullptr);
    dev.SetAddress("127.0.0.1");
    dev.SetPort(peer.port());
    ASSERT_EQ(dev.ConnectTcp(), 1);
    ASSERT_EQ(dev.RequestScreen(), 1);
    peer.Stop();  // the peer has hung up
    dev.SetErrorText("a stale text");
    int sent = 1;
    for (int i = 0; i < 100 && sent == 1; ++i) {
        sent = dev.SendCommand("KEYP:MODE\n");
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(dev.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_LE(dev.LastSendResult(), 0);
    // With no link at all the same.
    dev.Disconnect();
    dev.SetErrorText("a stale text");
    EXPECT_EQ(dev.SendCommand("KEYP:MODE\n"), 0);
    EXPECT_EQ(dev.RequestScreen(), 0);
    EXPECT_EQ(dev.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(dev.ActiveMethod(), 0);
}

TEST(Sends, ASecondIpv4ConnectLeavesTheLinkAloneIpv6ReplacesIt) {
    MaliciousPeer first(
        [](MaliciousPeer::Wire& w) { w.Send(Frame(REQ_SCREEN, 1, 0, Text("ONE"))); });
    CDevComm dev;
    dev.Init(nullptr);
    dev.SetAddress("127.0.0.1");
    dev.SetPort(first.port());
    ASSERT_EQ(dev.ConnectTcp(), 1);
    EXPECT_EQ(dev.ConnectTcp(), 0);
    EXPECT_EQ(dev.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(dev.LinkFlag(), 0);
    EXPECT_EQ(dev.ActiveMethod(), kMethodTcp);
    ASSERT_EQ(dev.RequestScreen(), 1);
    ASSERT_EQ(dev.ReceiveAnswer(nullptr), 100) << "the first link still works";
    // IPv6 closes the open socket first; nothing listens on ::1 at that port.
    dev.SetAddress("::1");
    EXPECT_EQ(dev.ConnectTcp6(), 0);
    EXPECT_EQ(dev.ActiveMethod(), 0);
}

}  // namespace
}  // namespace qv::test
