// The USB device classes and the engine's USB operations, against the simulated instrument's
// USB personality in-process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <random>
#include <thread>

#include "link/CDevComm.h"
#include "link/CUsbDeviceVista.h"
#include "link/CUsbDeviceXP.h"
#include "link/CommandSet.h"
#include "link/DevOwner.h"
#include "sim/SimUsbBackend.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using sim::SimUsbBackend;
using sim::SimUsbFaults;
using Clock = std::chrono::steady_clock;

const std::string kPath = SimUsbBackend::kDefaultPath;

// What a device class prints while it opens.
template <typename Device>
std::pair<bool, std::string> OpenCaptured(Device& device) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    const bool open = device.Open(0);
    std::fflush(stdout);
    return {open, ::testing::internal::GetCapturedStdout()};
}

std::vector<std::uint8_t> HandshakeBlock() {
    std::vector<std::uint8_t> block(kUsbBlockSize, 0);
    std::copy(kUsbHandshake.begin(), kUsbHandshake.end(), block.begin());
    return block;
}

// Screen-like bytes with every value, the frame markers included, so escaping is exercised.
std::vector<std::uint8_t> ScreenBytes(std::size_t size, unsigned seed = 7) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(gen());
    }
    return out;
}

bool OldSystem(OsVersion& v) {
    v = OsVersion{kPlatformWin32Nt, 5, 1};
    return true;
}
bool NoVersion(OsVersion&) {
    return false;
}
bool NewSystem(OsVersion& v) {
    v = OsVersion{kPlatformWin32Nt, 10, 0};
    return true;
}

class Owner : public DevOwner {
  public:
    void OnResponseReady(int flag) override {
        std::lock_guard lock(m_);
        flags_.push_back(flag);
        cv_.notify_all();
    }
    bool WaitFlag(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, timeout, [this] { return !flags_.empty(); });
    }
    std::vector<int> flags() {
        std::lock_guard lock(m_);
        return flags_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<int> flags_;
};

// ---- device classes ----

TEST(UsbDevice, NewerClassOpensBothPipesAndSaysSo) {
    sim::SimInstrument instrument;
    SimUsbBackend usb(instrument);
    CUsbDeviceVista device(usb);
    const auto [open, out] = OpenCaptured(device);
    EXPECT_TRUE(open);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(out, "Attempting to open " + kPath + "\ncompleteDeviceName = (" + kPath +
                       "\\PIPE01)\nOpened successfully.\nAttempting to open " + kPath +
                       "\ncompleteDeviceName = (" + kPath + "\\PIPE00)\nOpened successfully.\n");
    // The device itself was opened only to prove its path.
    EXPECT_EQ(usb.OpenHandles(), 2);
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(usb.OpenHandles(), 0);
}

TEST(UsbDevice, NewerClassFailures) {
    struct Case {
        const char* name;
        std::function<void(SimUsbBackend&)> arrange;
        std::string expectedTail;
    };
    // 249 characters: with "\\PIPE01" the complete name needs 256, one more than fits.
    const std::string longPath = "\\\\?\\usb#" + std::string(241, 'x');
    const Case cases[] = {
        {"write pipe refused",
         [](SimUsbBackend& u) { u.RefuseOpen(kPath + "\\PIPE00", kUsbErrorAccessDenied); },
         "Failed to open (" + kPath + "\\PIPE00) = 5"},
        {"no device", [](SimUsbBackend& u) { u.ClearInterfaces(); },
         "Failed to GetUsbDeviceFileName err - 259\nFailed to GetUsbDeviceFileName err - 259\n"},
        {"name too long",
         [&](SimUsbBackend& u) {
             u.ClearInterfaces();
             u.AddInterface(kUsbClassVista, longPath);
         },
         "Failed to open handle - possibly long filename\n"},
        {"device refused, no other",
         [](SimUsbBackend& u) { u.RefuseOpen(kPath, kUsbErrorSharingViolation); },
         "FAILED to open " + kPath + "\nFailed to GetUsbDeviceFileName err - 32\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimInstrument instrument;
        SimUsbBackend usb(instrument);
        c.arrange(usb);
        CUsbDeviceVista device(usb);
        const auto [open, out] = OpenCaptured(device);
        EXPECT_FALSE(open);
        EXPECT_FALSE(device.IsOpen());
        ASSERT_GE(out.size(), c.expectedTail.size()) << out;
        EXPECT_EQ(out.substr(out.size() - c.expectedTail.size()), c.expectedTail) << out;
        // Whatever opened on the way is closed again.
        EXPECT_EQ(usb.OpenHandles(), 0);
    }
}

TEST(UsbDevice, OlderClassTakesTheFirstDeviceItCanOpen) {
    sim::SimInstrument instrument;
    SimUsbBackend usb(instrument);
    usb.ClearInterfaces();
    usb.AddInterface(kUsbClassXp, "xp#0");
    usb.AddInterface(kUsbClassXp, "xp#1");
    // Held by another program: the older class opens without sharing.
    CUsbDeviceXP other(usb);
    unsigned error = 0;
    const UsbHandle held = usb.Open("xp#0", UsbShare::None, error);
    ASSERT_NE(held, kInvalidUsbHandle);
    CUsbDeviceXP device(usb);
    const auto [open, out] = OpenCaptured(device);
    EXPECT_TRUE(open);
    EXPECT_EQ(out,
              "Device found! xp#0\nDevice path xp#0\nCreateFile failed with error 0x20\n"
              "Device found! xp#1\nDevice path xp#1\n");
    std::size_t written = 0;
    EXPECT_TRUE(device.Write(nullptr, 64, written)) << "writes nothing, says whether open";
    EXPECT_EQ(written, 0u);
    usb.Close(held);
}

TEST(UsbDevice, OlderClassFailures) {
    struct Case {
        const char* name;
        std::function<void(SimUsbBackend&)> arrange;
        std::string expected;
    };
    const Case cases[] = {
        {"listing fails", [](SimUsbBackend& u) { u.FailListing(13); },
         "SetupDiGetClassDevs failed with error 0xd\n"},
        {"none present", [](SimUsbBackend&) {},
         "SetupDiGetDeviceInterfaceDetail failed with error 0x0\n"},
        {"none opens",
         [](SimUsbBackend& u) {
             u.AddInterface(kUsbClassXp, "xp#0");
             u.RefuseOpen("xp#0", kUsbErrorAccessDenied);
         },
         "Device found! xp#0\nDevice path xp#0\nCreateFile failed with error 0x5\n"
         "Unable to find or open any DavEriduv!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimInstrument instrument;
        SimUsbBackend usb(instrument);  // its default device is of the newer class only
        c.arrange(usb);
        CUsbDeviceXP device(usb);
        const auto [open, out] = OpenCaptured(device);
        EXPECT_FALSE(open);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(usb.OpenHandles(), 0);
    }
}

// ---- engine ----

class UsbEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        usb_.SetReadTimeout(1500ms);
        engine_.SetUsbBackend(&usb_);
        engine_.Init(&owner_);
    }
    void TearDown() override { engine_.CloseUsb(); }

    int Open() {
        std::fflush(stdout);
        ::testing::internal::CaptureStdout();  // the device classes' diagnostics
        const int r = engine_.OpenUsb(&owner_);
        std::fflush(stdout);
        ::testing::internal::GetCapturedStdout();
        return r;
    }
    int Screen() {
        if (engine_.UsbRequestFile(REQ_SCREEN, std::string(kScreenFileName)) != 1) {
            return -2;
        }
        return engine_.UsbReceive();
    }
    std::vector<std::uint8_t> Data() const {
        return {engine_.GetData(), engine_.GetData() + engine_.GetDataLength()};
    }

    sim::SimInstrument instrument_;
    SimUsbBackend usb_{instrument_};
    Owner owner_;
    CDevComm engine_;
};

TEST_F(UsbEngine, NewerClassHandshakeAndRequestBlocks) {
    ASSERT_EQ(Open(), 1);
    EXPECT_EQ(engine_.UsbDeviceGeneration(), 2);
    EXPECT_TRUE(usb_.HandshakeSeen());
    ASSERT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 1);
    const auto blocks = usb_.Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], HandshakeBlock());
    std::vector<std::uint8_t> eqinfo(kUsbBlockSize, 0);
    const std::uint8_t head[] = {0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E};
    std::copy(std::begin(head), std::end(head), eqinfo.begin());
    EXPECT_EQ(blocks[1], eqinfo);
    // One write of a whole block each, to the write pipe.
    for (const auto& w : usb_.Writes()) {
        EXPECT_EQ(w.path, kPath + "\\PIPE00");
        EXPECT_EQ(w.size, kUsbBlockSize);
    }
    EXPECT_EQ(engine_.UsbReceive(), 100);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(engine_.GetData())), instrument_.model());
}

TEST_F(UsbEngine, OlderClassWaitsThenWritesSixtyFourPieces) {
    usb_.AddInterface(kUsbClassXp, "xp#0");
    engine_.SetVersionQueries(&NoVersion, &OldSystem);  // the basic query answers
    std::vector<std::pair<std::chrono::milliseconds, std::size_t>> sleeps;
    engine_.SetSleep(
        [&](std::chrono::milliseconds d) { sleeps.emplace_back(d, usb_.Writes().size()); });
    ASSERT_EQ(Open(), 1);
    EXPECT_EQ(engine_.UsbDeviceGeneration(), 1);
    // 2,000 ms after the open, before anything is written.
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0], std::make_pair(std::chrono::milliseconds(2000), std::size_t{0}));
    ASSERT_EQ(Screen(), 100);
    const auto writes = usb_.Writes();
    ASSERT_EQ(writes.size(), 128u);  // handshake and screen request
    for (const auto& w : writes) {
        EXPECT_EQ(w.path, "xp#0");
        EXPECT_EQ(w.size, kUsbXpWriteSize);
    }
    EXPECT_EQ(usb_.Blocks().front(), HandshakeBlock());
    EXPECT_GT(engine_.GetDataLength(), 1000);
}

TEST_F(UsbEngine, OpenFailsWithoutVersionOrDevice) {
    engine_.SetVersionQueries(&NoVersion, &NoVersion);
    EXPECT_EQ(Open(), -1);
    EXPECT_TRUE(usb_.Opens().empty());
    engine_.SetVersionQueries(&NewSystem, &NewSystem);
    usb_.ClearInterfaces();
    EXPECT_EQ(Open(), -1);
    EXPECT_FALSE(engine_.UsbIsOpen());
    // Nothing to talk to: requests fail, receives fail, nothing blocks.
    EXPECT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 0);
    EXPECT_EQ(engine_.UsbReceive(), -1);
}

TEST_F(UsbEngine, ReaderThreadAnswersAWokenRequest) {
    ASSERT_EQ(Open(), 1);
    engine_.SetRequestKind(kKindEqInfo);
    ASSERT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 1), 1);
    ASSERT_TRUE(owner_.WaitFlag(3s));
    EXPECT_EQ(owner_.flags(), std::vector<int>{1});
    EXPECT_GT(engine_.GetDataLength(), 0);
}

TEST_F(UsbEngine, ScreensJoinInOrderWhateverTheBlockPacking) {
    const auto screen = ScreenBytes(150 * 1024);
    instrument_.SetScreenOverride(screen);
    for (const int perBlock : {1, 2, 3}) {
        SCOPED_TRACE(perBlock);
        SimUsbFaults f;
        f.framesPerBlock = perBlock;
        usb_.SetFaults(f);
        ASSERT_EQ(Open(), 1);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(Screen(), 100) << engine_.ErrorText();
            EXPECT_EQ(Data(), screen);
        }
    }
    // An answer bigger than the data buffer is refused, not overrun.
    instrument_.SetScreenOverride(ScreenBytes(kMaxAnswerBytes + 1));
    EXPECT_EQ(Screen(), -1);
    EXPECT_EQ(engine_.ErrorText(), "STR_ERROR_PACKET");
}

TEST_F(UsbEngine, FaultsGiveTheirErrorTexts) {
    struct Case {
        const char* name;
        SimUsbFaults usb;
        sim::SimFaults instrument;
        const char* error;
    };
    const auto usbFault = [](auto set) {
        SimUsbFaults f;
        set(f);
        return f;
    };
    const auto simFault = [](auto set) {
        sim::SimFaults f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"stalled read",
         usbFault([](SimUsbFaults& f) { f.stallRead = true; }),
         {},
         "STR_ERROR_PACKET"},
        {"short read",
         usbFault([](SimUsbFaults& f) { f.shortRead = 100; }),
         {},
         "STR_ERROR_PACKET"},
        {"no end marker",
         usbFault([](SimUsbFaults& f) { f.noEndMarker = true; }),
         {},
         "STR_ERROR_PACKET"},
        {"vanishes mid-answer",
         usbFault([](SimUsbFaults& f) { f.vanishMidAnswer = true; }),
         {},
         "STR_ERROR_PACKET"},
        {"first frame index 1",
         {},
         simFault([](sim::SimFaults& f) { f.firstIndexOne = true; }),
         "Communication Error!"},
        {"bad checksum",
         {},
         simFault([](sim::SimFaults& f) { f.badChecksumEvery = 2; }),
         "STR_ERROR_CHECKSUM"},
        {"frame skipped",
         {},
         simFault([](sim::SimFaults& f) { f.skipIndex = true; }),
         "Communication Error!"},
    };
    usb_.SetReadTimeout(200ms);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        usb_.SetFaults(c.usb);
        instrument_.SetFaults(c.instrument);
        usb_.Replug();
        ASSERT_EQ(Open(), 1);
        engine_.SetErrorText("");
        EXPECT_EQ(Screen(), -1);
        EXPECT_EQ(engine_.ErrorText(), c.error);
        engine_.CloseUsb();
    }
}

TEST_F(UsbEngine, SendWaitsForABusyReceiveThenGivesUp) {
    SimUsbFaults stall;
    stall.stallRead = true;
    usb_.SetFaults(stall);
    usb_.SetReadTimeout(5s);
    std::vector<std::chrono::milliseconds> sleeps;
    ASSERT_EQ(Open(), 1);
    engine_.SetSleep([&](std::chrono::milliseconds d) { sleeps.push_back(d); });
    auto receive = std::async(std::launch::async, [&] { return engine_.UsbReceive(); });
    // The receive is waiting for its first block once its read is in the device.
    while (usb_.Opens().empty() || engine_.UsbIsOpen() == false) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(100ms);
    const std::size_t writesBefore = usb_.Writes().size();
    EXPECT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 0);
    EXPECT_EQ(sleeps, std::vector<std::chrono::milliseconds>(12, 100ms));
    EXPECT_EQ(usb_.Writes().size(), writesBefore) << "nothing is sent";
    // The wait cleared the flag: the next send goes out at once.
    EXPECT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 1);
    EXPECT_EQ(sleeps.size(), 12u);
    // Closing ends the blocked read long before its time-out.
    const auto t0 = Clock::now();
    engine_.CloseUsb();
    EXPECT_EQ(receive.get(), -1);
    EXPECT_LT(Clock::now() - t0, 3s);
}

TEST_F(UsbEngine, CommandsDuringScreensLeaveScreensIntact) {
    const auto screen = ScreenBytes(60 * 1024, 3);
    instrument_.SetScreenOverride(screen);
    ASSERT_EQ(Open(), 1);
    std::atomic<bool> done{false};
    int sent = 0;
    std::thread keys([&] {
        while (!done.load()) {
            if (engine_.UsbSendText("KEYP:MARK\n") == 1) {
                ++sent;
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(Screen(), 100) << engine_.ErrorText();
        ASSERT_EQ(Data(), screen);
    }
    done.store(true);
    keys.join();
    EXPECT_GT(sent, 0);
    EXPECT_TRUE(instrument_.WaitForCommands(static_cast<std::size_t>(sent), 2s));
    EXPECT_EQ(instrument_.LastCommand(), "KEYP:MARK");
}

TEST_F(UsbEngine, TextAndFileRequestsAreBoundedAndReopenIsClean) {
    ASSERT_EQ(Open(), 1);
    EXPECT_EQ(engine_.UsbSendText(std::string(kCommandTextMax + 10, 'K')), 0);
    EXPECT_EQ(engine_.ErrorText(), "STR_ERROR_PACKET");
    EXPECT_EQ(engine_.UsbRequestFile(REQ_SCREEN, std::string(200, 'n')), 0);
    ASSERT_EQ(engine_.UsbSendText("KEYP:FREQ\n"), 1);
    ASSERT_TRUE(instrument_.WaitForCommands(1, 2s));
    const auto text = usb_.Blocks().back();
    // Frame header, then a 128-byte payload of the text and zeros.
    EXPECT_EQ(text[2], REQ_CMD);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data() + 5)), "KEYP:FREQ\n");
    // Opening again closes the old device and its reader first.
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Open(), 1);
        EXPECT_EQ(usb_.OpenHandles(), 2);
    }
    engine_.CloseUsb();
    EXPECT_EQ(usb_.OpenHandles(), 0);
    EXPECT_EQ(engine_.IsConnected(), 0);
}

}  // namespace
}  // namespace qv::test

namespace qv::test {
namespace {

// A block that arrives in pieces (a transfer that timed out part way) is gathered whole.
TEST_F(UsbEngine, BlocksThatArriveInPiecesJoinWhole) {
    const auto screen = ScreenBytes(60 * 1024, 5);
    instrument_.SetScreenOverride(screen);
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{64}, std::size_t{4095}}) {
        SCOPED_TRACE(piece);
        SimUsbFaults f;
        f.splitBlock = piece;
        f.framesPerBlock = 2;
        usb_.SetFaults(f);
        ASSERT_EQ(Open(), 1);
        ASSERT_EQ(Screen(), 100) << engine_.ErrorText();
        EXPECT_EQ(Data(), screen);
    }
}

// Which device class opens, by the system version and the devices present.
struct ClassCase {
    const char* name;
    bool newerSystem;
    bool newerDevice;
    bool olderDevice;
    int generation;  // 0: the open fails
};

class UsbClassChoice : public UsbEngine, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(UsbClassChoice, OlderClassWhenOnlyAnOlderDeviceIsThere) {
    const ClassCase& c = GetParam();
    usb_.ClearInterfaces();
    if (c.newerDevice) {
        usb_.AddInterface(kUsbClassVista, kPath);
    }
    if (c.olderDevice) {
        usb_.AddInterface(kUsbClassXp, "xp#0");
    }
    engine_.SetVersionQueries(c.newerSystem ? &NewSystem : &OldSystem, nullptr);
    std::vector<std::chrono::milliseconds> sleeps;
    engine_.SetSleep([&](std::chrono::milliseconds d) { sleeps.push_back(d); });
    ASSERT_EQ(Open(), c.generation == 0 ? -1 : 1);
    EXPECT_EQ(engine_.UsbDeviceGeneration(), c.generation);
    if (c.generation == 0) {
        return;
    }
    ASSERT_EQ(Screen(), 100) << engine_.ErrorText();
    EXPECT_EQ(usb_.Blocks().front(), HandshakeBlock());
    const std::size_t pieces = c.generation == 1 ? kUsbXpWriteSize : kUsbBlockSize;
    for (const auto& w : usb_.Writes()) {
        EXPECT_EQ(w.size, pieces);
    }
    EXPECT_EQ(sleeps,
              c.generation == 1 ? std::vector{2000ms} : std::vector<std::chrono::milliseconds>{});
}

INSTANTIATE_TEST_SUITE_P(
    Classes, UsbClassChoice,
    ::testing::Values(ClassCase{"NewerSystemNewerDevice", true, true, false, 2},
                      ClassCase{"NewerSystemOlderDevice", true, false, true, 1},
                      ClassCase{"NewerSystemBoth", true, true, true, 2},
                      ClassCase{"NewerSystemNone", true, false, false, 0},
                      ClassCase{"OlderSystemOlderDevice", false, false, true, 1},
                      ClassCase{"OlderSystemNewerDevice", false, true, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the reader thread never calls into an owner that is gone ----

// The session gave up waiting ("Connect USB Timeout."), the window goes away, the answer comes
// late. The window detaches first, by closing the engine or by clearing the callback.
class UsbLateAnswer : public ::testing::TestWithParam<bool> {
  protected:
    sim::SimInstrument instrument_;
    SimUsbBackend usb_{instrument_};
};

TEST_P(UsbLateAnswer, ReachesNoOwnerThatIsGone) {
    const bool byClose = GetParam();
    SimUsbFaults late;
    late.answerDelayMs = 300;
    usb_.SetFaults(late);
    CDevComm engine;
    engine.SetUsbBackend(&usb_);
    auto owner = std::make_unique<Owner>();
    engine.Init(owner.get());
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(engine.OpenUsb(owner.get()), 1);
    std::fflush(stdout);
    ::testing::internal::GetCapturedStdout();
    engine.SetRequestKind(kKindEqInfo);
    ASSERT_EQ(engine.UsbSendRequest(REQ_EQINFO, nullptr, 0, 1), 1);
    ASSERT_FALSE(owner->WaitFlag(50ms)) << "the session stops waiting before the answer";
    if (byClose) {
        engine.Close();  // whatever IsConnected says
        EXPECT_FALSE(engine.UsbIsOpen());
    } else {
        engine.SetResponseCallback({});
    }
    owner.reset();  // the window is destroyed
    // Long enough for the late answer to have come, had the device stayed open.
    std::this_thread::sleep_for(700ms);
    engine.Close();  // joins the reader: its answer state may be read now
    if (!byClose) {
        EXPECT_GT(engine.GetDataLength(), 0)
            << "the reader took the late answer in, and told nobody";
    }
}

INSTANTIATE_TEST_SUITE_P(Detach, UsbLateAnswer, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Close" : "ClearCallback"; });

TEST(UsbReader, ClearingWaitsForARunningCallbackAndCloseFromItDoesNotDeadlock) {
    sim::SimInstrument instrument;
    SimUsbBackend usb(instrument);
    CDevComm engine;
    engine.SetUsbBackend(&usb);
    engine.Init(nullptr);
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(engine.OpenUsb(nullptr), 1);
    std::fflush(stdout);
    ::testing::internal::GetCapturedStdout();

    std::promise<void> started;
    std::atomic<bool> finished{false};
    engine.SetResponseCallback([&](int result) {
        EXPECT_EQ(result, 100);
        started.set_value();
        std::this_thread::sleep_for(200ms);
        finished.store(true);
    });
    ASSERT_EQ(engine.RequestEquipment(true), 1);
    ASSERT_EQ(started.get_future().wait_for(3s), std::future_status::ready);
    engine.SetResponseCallback({});
    EXPECT_TRUE(finished.load()) << "cleared while the callback still ran";

    // A callback that closes the engine: the reader stops without waiting for itself.
    std::promise<void> closed;
    engine.SetResponseCallback([&](int) {
        engine.Close();
        closed.set_value();
    });
    ASSERT_EQ(engine.RequestEquipment(true), 1);
    ASSERT_EQ(closed.get_future().wait_for(3s), std::future_status::ready);
    EXPECT_FALSE(engine.UsbIsOpen());
    const auto t0 = Clock::now();
    engine.Close();  // joins the reader that closed itself
    EXPECT_LT(Clock::now() - t0, 1s);
}

TEST(UsbReader, DestroyingTheEngineEndsABlockedRead) {
    sim::SimInstrument instrument;
    SimUsbBackend usb(instrument);
    SimUsbFaults stall;
    stall.stallRead = true;
    usb.SetFaults(stall);
    usb.SetReadTimeout(10s);
    Owner owner;
    auto engine = std::make_unique<CDevComm>();
    engine->SetUsbBackend(&usb);
    engine->Init(&owner);
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(engine->OpenUsb(&owner), 1);
    std::fflush(stdout);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(engine->RequestEquipment(true), 1);
    std::this_thread::sleep_for(100ms);  // the reader is in its read
    const auto t0 = Clock::now();
    engine.reset();
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_TRUE(owner.flags().empty());
    EXPECT_EQ(usb.OpenHandles(), 0);
}

}  // namespace
}  // namespace qv::test
