// The engine against the simulated instrument over real loopback sockets.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <random>
#include <thread>

#include "tests/link/SimPeer.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) {
        // Plenty of marker bytes so escaping is exercised.
        const unsigned r = rng() % 8;
        b = r < 3 ? static_cast<std::uint8_t>(0x7D + r) : static_cast<std::uint8_t>(rng());
    }
    return out;
}

class EngineOverLoopback : public ::testing::TestWithParam<Loopback> {
  protected:
    void SetUp() override {
        peer_ = std::make_unique<SimPeer>(GetParam());
        if (!peer_->started()) {
            GTEST_SKIP() << "no " << Name(GetParam()) << " loopback here";
        }
        dev_.Init(nullptr);
        ASSERT_TRUE(peer_->Connect(dev_));
    }
    sim::SimInstrument& sim() { return peer_->server.instrument(); }

    std::unique_ptr<SimPeer> peer_;
    CDevComm dev_;
};

TEST_P(EngineOverLoopback, EquipmentInfoIsTheModelNameWithItsZero) {
    sim().SetModel("QV384B");
    ASSERT_EQ(dev_.SendRequest(kCmdRequest, REQ_EQINFO), 1);
    ASSERT_EQ(Await(dev_), 100);
    EXPECT_EQ(dev_.GetDataLength(), 7);
    EXPECT_STREQ(reinterpret_cast<const char*>(dev_.GetData()), "QV384B");
}

TEST_P(EngineOverLoopback, WholeScreensOfEverySize) {
    for (const std::size_t size : {std::size_t{1}, std::size_t{4095}, std::size_t{4096},
                                   std::size_t{4097}, std::size_t{150000}, kMaxAnswerBytes}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size));
        sim().SetScreenOverride(bytes);
        ASSERT_EQ(RequestScreen(dev_), 100) << dev_.ErrorText();
        ASSERT_EQ(static_cast<std::size_t>(dev_.GetDataLength()), size);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), dev_.GetData()));
        // Text readers of the data stop at the terminating zero after it.
        EXPECT_EQ(dev_.GetData()[size], 0);
    }
}

TEST_P(EngineOverLoopback, RenderedScreenDecodesAsJpeg) {
    ASSERT_EQ(RequestScreen(dev_), 100) << dev_.ErrorText();
    QImage image;
    ASSERT_TRUE(image.loadFromData(dev_.GetData(), dev_.GetDataLength(), "JPG"));
    EXPECT_EQ(image.size(), QSize(800, 600));
}

TEST_P(EngineOverLoopback, CommandsDoNotDisturbAScreenBeingReceived) {
    constexpr int kCommands = 1000;
    constexpr int kScreens = 200;
    sim().SetScreenOverride(RandomBytes(60000, 7));
    const auto expected = RandomBytes(60000, 7);
    std::atomic<bool> sendFailed{false};
    std::thread commands([&] {
        for (int i = 0; i < kCommands; ++i) {
            if (!dev_.SendText(kCmdRequest, REQ_CMD,
                               "KEYP:NUM" + std::to_string(i % 10) + "#" + std::to_string(i))) {
                sendFailed = true;
            }
        }
    });
    int good = 0;
    for (int i = 0; i < kScreens; ++i) {
        if (RequestScreen(dev_) == 100 && dev_.GetDataLength() == 60000 &&
            std::equal(expected.begin(), expected.end(), dev_.GetData())) {
            ++good;
        }
    }
    commands.join();
    EXPECT_FALSE(sendFailed);
    EXPECT_EQ(good, kScreens);
    ASSERT_TRUE(sim().WaitForCommands(kCommands, 10s));
    const auto recorded = sim().Commands();
    ASSERT_EQ(recorded.size(), static_cast<std::size_t>(kCommands));
    for (int i = 0; i < kCommands; ++i) {
        EXPECT_EQ(recorded[static_cast<std::size_t>(i)].text,
                  "KEYP:NUM" + std::to_string(i % 10) + "#" + std::to_string(i));
    }
}

TEST_P(EngineOverLoopback, CommandTextArrivesWithoutItsLineFeed) {
    const std::string longest(kCommandTextMax, 'K');
    EXPECT_EQ(dev_.SendText(kCmdRequest, REQ_CMD, "KEYP:LEFT"), 1);
    EXPECT_EQ(dev_.SendText(kCmdRequest, REQ_CMD, longest), 1);
    ASSERT_TRUE(sim().WaitForCommands(2, 5s));
    EXPECT_EQ(sim().Commands()[0].text, "KEYP:LEFT");
    EXPECT_EQ(sim().Commands()[1].text, longest);
}

TEST_P(EngineOverLoopback, UploadGoesOutInNumberedChunks) {
    const auto data = RandomBytes(10000, 3);
    ASSERT_EQ(
        dev_.WriteData(kCmdRequest, 145, "up.bin", static_cast<int>(data.size()), data.data()), 1);
    int p = 0;
    const auto until = Clock::now() + 5s;
    while ((p = dev_.Poll()) < 100 && p >= 0 && Clock::now() < until) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(p, 100);
    // The instrument saw three frames of the upload code.
    const auto deadline = Clock::now() + 2s;
    std::size_t seen = 0;
    while (Clock::now() < deadline && seen < 3) {
        seen = 0;
        for (const auto& r : sim().Requests()) {
            seen += r.code == 145;
        }
    }
    EXPECT_EQ(seen, 3u);
    // An empty upload is complete at once rather than dividing by zero.
    ASSERT_EQ(dev_.WriteData(kCmdRequest, 145, "empty.bin", 0, nullptr), 1);
    EXPECT_EQ(dev_.Poll(), 100);
}

TEST_P(EngineOverLoopback, ReconnectingLeaksNoSocket) {
    // The simulator in this process closes its side of a connection a moment after ours:
    // count once the number has stopped changing.
    const auto settled = [](int expected) {
        const auto until = Clock::now() + std::chrono::seconds(2);
        int last = OpenDescriptors();
        while (last != expected && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const int now = OpenDescriptors();
            if (now == last && expected < 0) {
                break;
            }
            last = now;
        }
        return last;
    };
    dev_.Disconnect();
    const int before = settled(-1);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(peer_->Connect(dev_));
        ASSERT_EQ(dev_.SendRequest(kCmdRequest, REQ_EQINFO), 1);
        ASSERT_EQ(Await(dev_), 100);
        dev_.Disconnect();
        EXPECT_EQ(dev_.IsConnected(), 0);
    }
    EXPECT_EQ(settled(before), before);
    // A request on a closed link is visible as not sent.
    EXPECT_EQ(dev_.SendRequest(kCmdRequest, REQ_EQINFO), 0);
}

INSTANTIATE_TEST_SUITE_P(Loopback, EngineOverLoopback, ::testing::Values(kLoopV4, kLoopV6),
                         [](const auto& info) { return Name(info.param); });

// Each misbehaviour of the instrument: the answer the engine gives and how long it takes. A
// silent peer is answer_bound_test's NeverAnswers, by Poll and by ReceiveAnswer.
struct FaultCase {
    const char* name;
    sim::SimFaults faults;
    std::size_t screenBytes;
    int result;             // 100 or -1
    const char* errorText;  // when result is -1
    std::chrono::milliseconds atLeast;
    std::chrono::milliseconds atMost;
};

sim::SimFaults With(void (*set)(sim::SimFaults&)) {
    sim::SimFaults f;
    set(f);
    return f;
}

const FaultCase kFaultCases[] = {
    {"SplitIntoSingleBytes", With([](auto& f) { f.splitWrites = 1; }), 9000, 100, "", 0ms, 10s},
    {"SplitWithGaps", With([](auto& f) { f.splitWrites = 700, f.splitGapUs = 3000; }), 20000, 100,
     "", 0ms, 10s},
    {"SlowFrames", With([](auto& f) { f.frameDelayMs = 150; }), 9000, 100, "", 400ms, 5s},
    {"FrameTooLate", With([](auto& f) { f.frameDelayMs = 4000; }), 100, -1, "STR_ERROR_TIMEOUT",
     2000ms, 3500ms},
    {"ClosesMidAnswer", With([](auto& f) { f.closeAfterFrames = 2; }), 20000, -1,
     "STR_ERROR_TIMEOUT", 150ms, 1500ms},
    {"GarbageBeforeFrame", With([](auto& f) { f.garbageBeforeFrame = true; }), 100, -1,
     "STR_ERROR_PACKET", 0ms, 1s},
    {"BadChecksum", With([](auto& f) { f.badChecksumEvery = 3; }), 20000, -1, "STR_ERROR_CHECKSUM",
     0ms, 1s},
    {"SkippedIndex", With([](auto& f) { f.skipIndex = true; }), 20000, -1, "Communication Error!",
     0ms, 1s},
    {"FirstIndexOne", With([](auto& f) { f.firstIndexOne = true; }), 20000, -1,
     "Communication Error!", 0ms, 1s},
    {"OversizedFrame", With([](auto& f) { f.oversizedFrame = true; }), 20000, -1,
     "STR_ERROR_PACKET", 0ms, 1s},
    {"AnswerOverLimit", With([](auto& f) { f.answerOverLimit = true; }), 100, -1,
     "STR_ERROR_PACKET", 0ms, 2s},
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class EngineFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(EngineFaults, AnswerAndTiming) {
    const FaultCase& c = GetParam();
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    CDevComm dev;
    dev.Init(nullptr);
    ASSERT_TRUE(peer.Connect(dev));
    const auto bytes = RandomBytes(c.screenBytes, 11);
    peer.server.instrument().SetScreenOverride(bytes);
    peer.server.instrument().SetFaults(c.faults);

    const auto start = Clock::now();
    const int result = RequestScreen(dev);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(result, c.result) << dev.ErrorText();
    if (c.result == 100) {
        ASSERT_EQ(static_cast<std::size_t>(dev.GetDataLength()), bytes.size());
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), dev.GetData()));
    } else {
        EXPECT_EQ(dev.ErrorText(), c.errorText);
        // Nothing past the answer buffer was written: the zero after the data is in place.
        EXPECT_LE(static_cast<std::size_t>(dev.GetDataLength()), kMaxAnswerBytes);
        EXPECT_EQ(dev.GetData()[dev.GetDataLength()], 0);
    }
    EXPECT_GE(took, c.atLeast);
    EXPECT_LE(took, c.atMost);
    peer.server.Stop();
}

INSTANTIATE_TEST_SUITE_P(Sim, EngineFaults, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EngineRequests, RefusedPayloadsSendNothing) {
    SimPeer peer(kLoopV4);
    ASSERT_TRUE(peer.started());
    CDevComm dev;
    dev.Init(nullptr);
    ASSERT_TRUE(peer.Connect(dev));
    EXPECT_EQ(dev.SendText(kCmdRequest, REQ_CMD, std::string(kTextMax + 1, 'x')), 0);
    EXPECT_EQ(dev.ErrorText(), "STR_ERROR_PACKET");
    EXPECT_EQ(dev.RequestFile(kCmdRequest, REQ_SCREEN, std::string(80, 'n'), 1), 0);
    ASSERT_EQ(dev.SendRequest(kCmdRequest, REQ_EQINFO), 1);
    ASSERT_EQ(Await(dev), 100);
    EXPECT_EQ(peer.server.instrument().Commands().size(), 0u);
    const auto requests = peer.server.instrument().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, REQ_EQINFO);
}

TEST(EngineConnect, FailuresAreReportedAndBounded) {
    CDevComm dev;
    dev.Init(nullptr);
    // Nobody listens on this port.
    sim::SimServer probe;
    ASSERT_TRUE(probe.Start("127.0.0.1", 0));
    const std::uint16_t port = probe.port();
    probe.Stop();
    dev.SetAddress("127.0.0.1");
    dev.SetPort(port);
    const auto start = Clock::now();
    EXPECT_EQ(dev.ConnectTcp(), 0);
    EXPECT_EQ(dev.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(dev.LinkFlag(), 0);
    EXPECT_EQ(dev.IsConnected(), 0);
    dev.SetAddress("255.255.255.255");
    EXPECT_EQ(dev.ConnectTcp(), 0);
    dev.SetAddress("no.such.host.invalid");
    EXPECT_EQ(dev.ConnectTcp(), 0);
    EXPECT_EQ(dev.ConnectTcp6(), 0);
    EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace qv::test
