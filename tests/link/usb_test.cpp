// The USB device classes and the engine's USB operations against the simulated instrument's
// USB personality in-process: class choice, blocks, faults, and the reader thread's life.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "link/CUsbDeviceVista.h"
#include "link/CUsbDeviceXP.h"
#include "link/DevOwner.h"
#include "sim/SimUsbBackend.h"
#include "tests/link/SimPeer.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using sim::SimUsbBackend;
using sim::SimUsbFaults;
using Sleeps = std::vector<std::pair<std::chrono::milliseconds, std::size_t>>;

const std::string kPath = SimUsbBackend::kDefaultPath, kScreen(kScreenFileName);

// A block that starts with these bytes, zeros after.
Bytes Block(Bytes block) {
    block.resize(kUsbBlockSize);
    return block;
}

template <int Major, int Minor>
bool Version(OsVersion& v) {
    v = OsVersion{kPlatformWin32Nt, Major, Minor};
    return true;
}
const VersionQuery kOld = &Version<5, 1>, kNew = &Version<10, 0>;
const VersionQuery kNone = [](OsVersion&) { return false; };

struct Owner : DevOwner {
    void OnResponseReady(int) override { ++calls; }
    std::atomic<int> calls{0};
};

// What each device class opens, and that it keeps open only what it uses.
TEST(UsbDevice, ClassesOpenWhatTheyCan) {
    const struct {
        bool older;
        void (*arrange)(SimUsbBackend&);
        bool open;
    } cases[] = {
        // clang-format off
        {false, [](SimUsbBackend&) {}, true},
        {false, [](SimUsbBackend& u) { u.RefuseOpen(kPath + "\\PIPE00", kUsbErrorAccessDenied); }, false},
        {false, [](SimUsbBackend& u) { u.ClearInterfaces(); }, false},
        // 249 characters: with "\\PIPE01" the complete name needs 256, one more than fits.
        {false, [](SimUsbBackend& u) { u.ClearInterfaces(), u.AddInterface(kUsbClassVista, "\\\\?\\usb#" + std::string(241, 'x')); }, false},
        {false, [](SimUsbBackend& u) { u.RefuseOpen(kPath, kUsbErrorSharingViolation); }, false},
        // Held by another program: the older class opens without sharing, takes the next.
        {true, [](SimUsbBackend& u) {
             u.ClearInterfaces(), u.AddInterface(kUsbClassXp, "xp#0"), u.AddInterface(kUsbClassXp, "xp#1");
             unsigned error = 0;
             u.Open("xp#0", UsbShare::None, error);
         }, true},
        {true, [](SimUsbBackend& u) { u.FailListing(13); }, false},
        {true, [](SimUsbBackend&) {}, false},
        {true, [](SimUsbBackend& u) { u.AddInterface(kUsbClassXp, "xp#0"), u.RefuseOpen("xp#0", kUsbErrorAccessDenied); }, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        sim::SimInstrument instrument;
        SimUsbBackend usb(instrument);
        c.arrange(usb);
        const int held = usb.OpenHandles();
        CUsbDeviceVista vista(usb);
        CUsbDeviceXP older(usb);
        EXPECT_EQ(c.older ? older.Open(0) : vista.Open(0), c.open);
        // Both pipes of the newer class stay open; the device itself only proved its path.
        EXPECT_EQ(usb.OpenHandles(), held + (c.open ? (c.older ? 1 : 2) : 0));
        vista.Close();
        older.Close();
        EXPECT_EQ(usb.OpenHandles(), held);
    }
}

class UsbEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        usb_.SetReadTimeout(1500ms);
        engine_.SetUsbBackend(&usb_);
        engine_.Init(&owner_);
    }
    void TearDown() override { engine_.CloseUsb(); }

    int Open() { return engine_.OpenUsb(&owner_); }
    int Screen() {
        return engine_.UsbRequestFile(REQ_SCREEN, kScreen) != 1 ? -2 : engine_.UsbReceive();
    }
    Bytes Data() const { return {engine_.GetData(), engine_.GetData() + engine_.GetDataLength()}; }

    sim::SimInstrument instrument_;
    SimUsbBackend usb_{instrument_};
    Owner owner_;
    CDevComm engine_;
};

// Which class opens, by the system version and the devices present; what each writes.
struct ClassCase {
    const char* name;
    VersionQuery extended, basic;
    bool newerDevice, olderDevice;
    int generation;  // 0: the open fails
};

class UsbClassChoice : public UsbEngine, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(UsbClassChoice, HandshakeRequestBlocksAndWrites) {
    const ClassCase& c = GetParam();
    usb_.ClearInterfaces();
    if (c.newerDevice) {
        usb_.AddInterface(kUsbClassVista, kPath);
    }
    if (c.olderDevice) {
        usb_.AddInterface(kUsbClassXp, "xp#0");
    }
    engine_.SetVersionQueries(c.extended, c.basic);
    Sleeps sleeps;
    engine_.SetSleep([&](auto d) { sleeps.emplace_back(d, usb_.Writes().size()); });
    ASSERT_EQ(Open(), c.generation == 0 ? -1 : 1);
    EXPECT_EQ(engine_.UsbDeviceGeneration(), c.generation);
    if (c.generation == 0) {
        EXPECT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 0);
        EXPECT_TRUE(c.extended != kNone || c.basic != kNone || usb_.Opens().empty());
        return;
    }
    // The older class waits 2,000 ms after the open, before anything is written.
    EXPECT_EQ(sleeps, (c.generation == 1 ? Sleeps{{2000ms, 0}} : Sleeps{}));
    ASSERT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 1);
    EXPECT_EQ(usb_.Blocks(), (std::vector{Block({kUsbHandshake.begin(), kUsbHandshake.end()}),
                                          Block({0x7F, 0x41, 0x50, 1, 0, 0x92, 0x7E})}));
    EXPECT_EQ(engine_.UsbReceive(), 100);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(engine_.GetData())), instrument_.model());
    ASSERT_EQ(Screen(), 100) << engine_.ErrorText();
    // Whole blocks to the write pipe, or 64-byte pieces to the one handle.
    for (const auto& w : usb_.Writes()) {
        EXPECT_EQ(w.path, c.generation == 1 ? "xp#0" : kPath + "\\PIPE00");
        EXPECT_EQ(w.size, c.generation == 1 ? kUsbXpWriteSize : kUsbBlockSize);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Classes, UsbClassChoice, ::testing::Values(
    ClassCase{"NewerSystemNewerDevice", kNew, nullptr, true, false, 2},
    ClassCase{"NewerSystemOlderDevice", kNew, nullptr, false, true, 1},
    ClassCase{"NewerSystemBoth", kNew, nullptr, true, true, 2},
    ClassCase{"NewerSystemNone", kNew, nullptr, false, false, 0},
    ClassCase{"OlderSystemOlderDevice", kOld, nullptr, false, true, 1},
    ClassCase{"OlderSystemNewerDevice", kOld, nullptr, true, false, 0},
    ClassCase{"BasicQueryOlderSystem", kNone, kOld, true, true, 1},
    ClassCase{"NoVersion", kNone, kNone, true, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(UsbEngine, ScreensJoinWholeHoweverTheBlocksArePackedOrCutOrCommandsComeBetween) {
    const auto screen = RandomBytes(150 * 1024);
    instrument_.SetScreenOverride(screen);
    // Frames per block; a block that comes in pieces (a transfer that timed out part way).
    for (const auto& [perBlock, piece] : std::vector<std::pair<int, std::size_t>>{
             {1, 0}, {2, 0}, {3, 0}, {2, 1000}, {2, 64}, {2, 4095}}) {
        SCOPED_TRACE(testing::Message() << perBlock << " per block, pieces of " << piece);
        usb_.SetFaults({.framesPerBlock = perBlock, .splitBlock = piece});
        ASSERT_EQ(Open(), 1);
        EXPECT_EQ(usb_.OpenHandles(), 2) << "opening again closes the old device first";
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Screen(), 100) << engine_.ErrorText();
            EXPECT_EQ(Data(), screen);
        }
    }
    usb_.SetFaults({});
    ASSERT_EQ(Open(), 1);
    std::atomic<bool> done{false};
    int sent = 0;
    std::thread keys([&] {
        for (; !done.load(); std::this_thread::sleep_for(2ms)) {
            sent += engine_.UsbSendText("KEYP:MARK\n") == 1;
        }
    });
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(Screen(), 100) << "commands in between: " << engine_.ErrorText();
        ASSERT_EQ(Data(), screen);
    }
    done.store(true);
    keys.join();
    EXPECT_GT(sent, 0);
    EXPECT_TRUE(instrument_.WaitForCommands(static_cast<std::size_t>(sent), 2s));
    EXPECT_EQ(instrument_.LastCommand(), "KEYP:MARK");
    instrument_.SetScreenOverride(RandomBytes(kMaxAnswerBytes + 1));
    EXPECT_EQ(Screen(), -1) << "larger than the data buffer: refused, not overrun";
    EXPECT_EQ(engine_.ErrorText(), "STR_ERROR_PACKET");
    engine_.CloseUsb();
    EXPECT_EQ(usb_.OpenHandles(), 0);
    // The frame faults of the instrument itself are the same over TCP; these are the USB ones.
    usb_.SetReadTimeout(200ms);
    for (const SimUsbFaults& fault :
         {SimUsbFaults{.stallRead = true}, SimUsbFaults{.shortRead = 100},
          SimUsbFaults{.noEndMarker = true}, SimUsbFaults{.vanishMidAnswer = true}}) {
        usb_.SetFaults(fault);
        usb_.Replug();
        ASSERT_EQ(Open(), 1);
        engine_.SetErrorText("");
        EXPECT_EQ(Screen(), -1);
        EXPECT_EQ(engine_.ErrorText(), "STR_ERROR_PACKET");
    }
}

TEST_F(UsbEngine, SendWaitsForABusyReceiveThenGivesUpAndCloseOrDestroyEndsTheRead) {
    usb_.SetFaults({.stallRead = true});
    usb_.SetReadTimeout(5s);
    ASSERT_EQ(Open(), 1);
    Sleeps sleeps;
    engine_.SetSleep([&](auto d) { sleeps.emplace_back(d, 0); });
    auto receive = std::async(std::launch::async, [&] { return engine_.UsbReceive(); });
    std::this_thread::sleep_for(100ms);  // the receive is in its read
    const std::size_t writesBefore = usb_.Writes().size();
    EXPECT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 0);
    EXPECT_EQ(sleeps, Sleeps(12, {100ms, 0}));
    EXPECT_EQ(usb_.Writes().size(), writesBefore) << "nothing is sent";
    // The wait cleared the flag: the next send goes out at once.
    EXPECT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 0), 1);
    EXPECT_EQ(sleeps.size(), 12u);
    const auto t0 = Clock::now();
    engine_.CloseUsb();
    EXPECT_EQ(receive.get(), -1);
    EXPECT_LT(Clock::now() - t0, 3s);
    auto engine = std::make_unique<CDevComm>();
    engine->SetUsbBackend(&usb_);
    ASSERT_EQ(engine->OpenUsb(&owner_), 1);
    ASSERT_EQ(engine->RequestEquipment(true), 1);
    std::this_thread::sleep_for(100ms);  // the reader is in its read
    const auto t1 = Clock::now();
    engine.reset();
    EXPECT_LT(Clock::now() - t1, 1s);
    EXPECT_EQ(owner_.calls.load(), 0);
    EXPECT_EQ(usb_.OpenHandles(), 0);
}

TEST_F(UsbEngine, ClearingTheCallbackWaitsForItAndALateAnswerReachesNoOwnerThatIsGone) {
    ASSERT_EQ(Open(), 1);
    std::promise<void> started, closed;
    std::atomic<bool> finished{false};
    engine_.SetResponseCallback([&](int result) {
        EXPECT_EQ(result, 100);
        started.set_value();
        std::this_thread::sleep_for(200ms);
        finished.store(true);
    });
    ASSERT_EQ(engine_.RequestEquipment(true), 1);
    ASSERT_EQ(started.get_future().wait_for(3s), std::future_status::ready);
    engine_.SetResponseCallback({});
    EXPECT_TRUE(finished.load()) << "cleared while the callback still ran";
    engine_.SetResponseCallback([&](int) {
        engine_.Close();
        closed.set_value();
    });
    ASSERT_EQ(engine_.RequestEquipment(true), 1);
    ASSERT_EQ(closed.get_future().wait_for(3s), std::future_status::ready);
    EXPECT_FALSE(engine_.UsbIsOpen());
    const auto t0 = Clock::now();
    engine_.Close();  // joins the reader that closed itself
    EXPECT_LT(Clock::now() - t0, 1s);
    // The session gave up waiting, the window goes away, the answer comes late. The window
    // detaches first, by closing the engine or by clearing the callback.
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "Close" : "clear the callback");
        usb_.SetFaults({.answerDelayMs = 300});
        auto owner = std::make_unique<Owner>();
        engine_.Init(owner.get());
        ASSERT_EQ(engine_.OpenUsb(owner.get()), 1);
        engine_.SetRequestKind(kKindEqInfo);
        ASSERT_EQ(engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 1), 1);
        std::this_thread::sleep_for(50ms);
        ASSERT_EQ(owner->calls.load(), 0) << "the session stops waiting before the answer";
        if (byClose) {
            engine_.Close();
        } else {
            engine_.SetResponseCallback({});
        }
        owner.reset();
        std::this_thread::sleep_for(700ms);  // the late answer would have come by now
        engine_.Close();                     // joins the reader: its answer may be read now
        EXPECT_TRUE(byClose || engine_.GetDataLength() > 0) << "read in, told nobody";
    }
}

}  // namespace
}  // namespace qv::test
