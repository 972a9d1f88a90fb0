// The USB device classes and the engine's USB operations against the simulated instrument's
// USB personality in-process: class choice, blocks, faults, and a receive ended by Close.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "link/CUsbDeviceVista.h"
#include "link/CUsbDeviceXP.h"
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

auto Threads() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
}

// The simulated instrument behind its USB personality, and an engine on it.
struct UsbRig {
    UsbRig() {
        usb.SetReadTimeout(1500ms);
        engine.SetUsbBackend(&usb);
        engine.Init();
    }
    ~UsbRig() { engine.CloseUsb(); }
    int Screen() {
        return engine.UsbRequestFile(REQ_SCREEN, kScreen) != 1 ? -2 : engine.UsbReceive();
    }
    Bytes Data() const { return {engine.GetData(), engine.GetData() + engine.GetDataLength()}; }

    sim::SimInstrument instrument;
    SimUsbBackend usb{instrument};
    CDevComm engine;
};

class UsbEngine : public ::testing::Test, protected UsbRig {};

// What each device class opens, and that it keeps open only what it uses.
TEST(UsbDevice, ClassesOpenWhatTheyCan) {
    const struct {
        bool older, open;
        void (*arrange)(SimUsbBackend&);
    } cases[] = {
        // clang-format off
        {false, true, [](SimUsbBackend&) {}},
        {false, false, [](SimUsbBackend& u) { u.RefuseOpen(kPath + "\\PIPE00", kUsbErrorAccessDenied); }},
        {false, false, [](SimUsbBackend& u) { u.ClearInterfaces(); }},
        // 249 characters: with "\\PIPE01" the complete name needs 256, one more than fits.
        {false, false, [](SimUsbBackend& u) { u.ClearInterfaces(), u.AddInterface(kUsbClassVista, "\\\\?\\usb#" + std::string(241, 'x')); }},
        {false, false, [](SimUsbBackend& u) { u.RefuseOpen(kPath, kUsbErrorSharingViolation); }},
        // Held by another program: the older class opens without sharing, takes the next.
        {true, true, [](SimUsbBackend& u) {
             u.ClearInterfaces(), u.AddInterface(kUsbClassXp, "xp#0"), u.AddInterface(kUsbClassXp, "xp#1");
             unsigned error = 0;
             u.Open("xp#0", UsbShare::None, error);
         }},
        {true, false, [](SimUsbBackend& u) { u.FailListing(13); }},
        {true, false, [](SimUsbBackend&) {}},
        {true, false, [](SimUsbBackend& u) { u.AddInterface(kUsbClassXp, "xp#0"), u.RefuseOpen("xp#0", kUsbErrorAccessDenied); }},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        UsbRig rig;
        SimUsbBackend& usb = rig.usb;
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

// Which class opens, by the devices present (0: none), and what each writes.
TEST(UsbClassChoice, TheClassThatOpensHandshakesAsksAndWritesItsBlocks) {
    const struct {
        bool newerDevice, olderDevice;
        int generation;
    } cases[] = {{true, false, 2}, {false, true, 1}, {true, true, 2}, {false, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        UsbRig rig;
        auto& [instrument, usb, engine] = rig;
        usb.ClearInterfaces();
        if (c.newerDevice) {
            usb.AddInterface(kUsbClassVista, kPath);
        }
        if (c.olderDevice) {
            usb.AddInterface(kUsbClassXp, "xp#0");
        }
        Sleeps sleeps;
        engine.SetSleep([&](auto d) { sleeps.emplace_back(d, rig.usb.Writes().size()); });
        ASSERT_EQ(engine.OpenUsb(), c.generation == 0 ? -1 : 1);
        EXPECT_EQ(engine.UsbDeviceGeneration(), c.generation);
        if (c.generation == 0) {
            EXPECT_EQ(engine.UsbSendRequest(REQ_EQINFO, nullptr, 0), 0);
            continue;
        }
        // The older class waits 2,000 ms after the open, before anything is written.
        EXPECT_EQ(sleeps, (c.generation == 1 ? Sleeps{{2000ms, 0}} : Sleeps{}));
        ASSERT_EQ(engine.UsbSendRequest(REQ_EQINFO, nullptr, 0), 1);
        EXPECT_EQ(usb.Blocks(), (std::vector{Block({kUsbHandshake.begin(), kUsbHandshake.end()}),
                                             Block({0x7F, 0x41, 0x50, 1, 0, 0x92, 0x7E})}));
        EXPECT_EQ(engine.UsbReceive(), 100);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(engine.GetData())), instrument.model());
        ASSERT_EQ(engine.UsbRequestFile(REQ_SCREEN, kScreen), 1);
        ASSERT_EQ(engine.UsbReceive(), 100) << engine.ErrorText();
        // Whole blocks to the write pipe, or 64-byte pieces to the one handle.
        for (const auto& w : usb.Writes()) {
            EXPECT_EQ(w.path, c.generation == 1 ? "xp#0" : kPath + "\\PIPE00");
            EXPECT_EQ(w.size, c.generation == 1 ? kUsbXpWriteSize : kUsbBlockSize);
        }
    }
}

TEST_F(UsbEngine, ScreensJoinWholeHoweverTheBlocksArePackedOrCutOrCommandsComeBetween) {
    const auto screen = RandomBytes(150 * 1024);
    instrument.SetScreenOverride(screen);
    // Frames per block; a block that comes in pieces (a transfer that timed out part way).
    for (const auto& [perBlock, piece] : std::vector<std::pair<int, std::size_t>>{
             {1, 0}, {2, 0}, {3, 0}, {2, 1000}, {2, 64}, {2, 4095}}) {
        SCOPED_TRACE(testing::Message() << perBlock << " per block, pieces of " << piece);
        usb.SetFaults({.framesPerBlock = perBlock, .splitBlock = piece});
        ASSERT_EQ(engine.OpenUsb(), 1);
        EXPECT_EQ(usb.OpenHandles(), 2) << "opening again closes the old device first";
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Screen(), 100) << engine.ErrorText();
            EXPECT_EQ(Data(), screen);
        }
    }
    usb.SetFaults({});
    ASSERT_EQ(engine.OpenUsb(), 1);
    std::atomic<bool> done{false};
    int sent = 0;
    std::thread keys([&] {
        for (; !done.load(); std::this_thread::sleep_for(2ms)) {
            sent += engine.UsbSendText("KEYP:MARK\n") == 1;
        }
    });
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(Screen(), 100) << "commands in between: " << engine.ErrorText();
        ASSERT_EQ(Data(), screen);
    }
    done.store(true);
    keys.join();
    EXPECT_GT(sent, 0);
    EXPECT_TRUE(instrument.WaitForCommands(static_cast<std::size_t>(sent), 2s));
    EXPECT_EQ(instrument.LastCommand(), "KEYP:MARK");
    instrument.SetScreenOverride(RandomBytes(kMaxAnswerBytes + 1));
    EXPECT_EQ(Screen(), -1) << "larger than the data buffer: refused, not overrun";
    EXPECT_EQ(engine.ErrorText(), "STR_ERROR_PACKET");
    engine.CloseUsb();
    EXPECT_EQ(usb.OpenHandles(), 0);
    // The frame faults of the instrument itself are the same over TCP; these are the USB ones.
    usb.SetReadTimeout(200ms);
    for (const SimUsbFaults& fault :
         {SimUsbFaults{.stallRead = true}, SimUsbFaults{.shortRead = 100},
          SimUsbFaults{.noEndMarker = true}, SimUsbFaults{.vanishMidAnswer = true}}) {
        usb.SetFaults(fault);
        usb.Replug();
        ASSERT_EQ(engine.OpenUsb(), 1);
        engine.SetErrorText("");
        EXPECT_EQ(Screen(), -1);
        EXPECT_EQ(engine.ErrorText(), "STR_ERROR_PACKET");
    }
}

// No thread of the link's own: a receive runs on its caller's thread, a command goes out
// beside it at once, and Close ends it.
TEST_F(UsbEngine, ACommandGoesOutBesideABlockedReceiveWhichCloseEndsWithTheDevice) {
    const auto threads = Threads();
    ASSERT_EQ(engine.OpenUsb(), 1);
    ASSERT_EQ(engine.RequestEquipment(), 1);
    ASSERT_EQ(engine.UsbReceive(), 100);
    EXPECT_EQ(Threads(), threads) << "opening and exchanging start no thread";
    usb.SetFaults({.stallRead = true});
    usb.SetReadTimeout(5s);
    auto receive = std::async(std::launch::async, [&] { return engine.UsbReceive(); });
    ASSERT_TRUE(usb.WaitForReader(5s));
    const std::size_t writesBefore = usb.Writes().size();
    const auto t0 = Clock::now();
    EXPECT_EQ(engine.UsbSendText("KEYP:MODE\n"), 1);
    EXPECT_LT(Clock::now() - t0, 1s) << "the command waits for no answer";
    EXPECT_EQ(usb.Writes().size(), writesBefore + 1);
    const auto t1 = Clock::now();
    engine.CloseUsb();
    EXPECT_EQ(receive.get(), -1);
    EXPECT_LT(Clock::now() - t1, 1s);
    EXPECT_EQ(usb.OpenHandles(), 0);
    EXPECT_FALSE(engine.UsbIsOpen());
    EXPECT_EQ(engine.UsbReceive(), -1);
}

}  // namespace
}  // namespace qv::test
