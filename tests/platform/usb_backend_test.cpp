// The libusb backend on a machine without an instrument, and the slice loop its transfers
// run: a block that comes in pieces is gathered whole, a short packet ends it, a stall ends
// at the deadline, a close at once.
#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <vector>

#include "link/UsbBackend.h"
#include "platform/BulkTransfer.h"
#include "platform/LibUsbBackend.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(UsbSystemBackend, FindsNothingAndRefusesBadPaths) {
    LibUsbBackend system;
    std::vector<std::string> paths{"stale"};
    unsigned error = 0;
    ASSERT_TRUE(system.ListInterfaces("{00000000-0000-0000-0000-000000000000}", paths, error));
    EXPECT_TRUE(paths.empty());
    for (const char* path : {"", "usb:", "usb:1", "usb:x:1", "usb:1:0", "usb:1:1.300",
                             "usb:1:1.2.3.4.5.6.7.8", "usb:250:9\\PIPE07", "usb:250:9\\PIPE01"}) {
        SCOPED_TRACE(path);
        error = 0;
        EXPECT_EQ(system.Open(path, UsbShare::ReadWrite, error), kInvalidUsbHandle);
        EXPECT_EQ(error, kUsbErrorFileNotFound);
    }
    std::uint8_t byte = 0;
    std::size_t n = 0;
    EXPECT_FALSE(system.Read(12345, &byte, 1, n, 10ms));
    EXPECT_FALSE(system.Write(12345, &byte, 1, n));
    system.Close(12345);
}

// A device side that hands out what its script says, one slice at a time.
struct Step {
    SliceResult result;
    std::size_t bytes;
};

struct ScriptedSlices {
    std::deque<Step> steps;
    Step idle{SliceResult::TimedOut, 0};  // once the script is done
    std::uint8_t next = 0;
    int slices = 0;

    BulkSlice Slice() {
        return [this](std::uint8_t* data, std::size_t length, std::size_t& moved) {
            ++slices;
            Step step = idle;
            if (!steps.empty()) {
                step = steps.front();
                steps.pop_front();
            }
            moved = std::min(step.bytes, length);
            for (std::size_t i = 0; i < moved; ++i) {
                data[i] = next++;
            }
            return step.result;
        };
    }
};

struct BulkCase {
    const char* name;
    std::vector<Step> steps;
    bool closing;
    bool ended;        // RunBulkTransfer's result
    std::size_t done;  // bytes moved
};

TEST(BulkTransfer, GathersPiecesUntilWholeOrShort) {
    const auto timedOut = [](std::size_t n) { return Step{SliceResult::TimedOut, n}; };
    const BulkCase cases[] = {
        {"whole in one", {{SliceResult::Done, 4096}}, false, true, 4096},
        // The fault: 2,560 bytes, then the slice's time ran out; the rest came after.
        {"split by a time-out", {timedOut(2560), {SliceResult::Done, 1536}}, false, true, 4096},
        {"many pieces, idle slices between",
         {timedOut(64), timedOut(0), timedOut(1000), timedOut(0), timedOut(3032)},
         false,
         true,
         4096},
        {"short packet ends it", {timedOut(100), {SliceResult::Done, 28}}, false, true, 128},
        {"stalls part way", {timedOut(1000)}, false, false, 1000},
        {"nothing comes", {}, false, false, 0},
        {"device gone", {timedOut(10), {SliceResult::Failed, 0}}, false, false, 10},
        {"closed", {timedOut(10), timedOut(10)}, true, false, 10},
    };
    for (const BulkCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSlices device;
        device.steps.assign(c.steps.begin(), c.steps.end());
        std::vector<std::uint8_t> block(4096, 0xEE);
        std::size_t done = 0;
        const std::atomic<bool> closing{c.closing};
        const auto t0 = Clock::now();
        const bool ended =
            RunBulkTransfer(device.Slice(), block.data(), block.size(), done, t0 + 100ms, closing);
        EXPECT_EQ(ended, c.ended);
        EXPECT_EQ(done, c.done);
        // The bytes are in order, with nothing lost or repeated between pieces.
        std::vector<std::uint8_t> expected(c.done);
        std::iota(expected.begin(), expected.end(), std::uint8_t{0});
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin()));
        EXPECT_LT(Clock::now() - t0, 1s);
        if (c.closing) {
            EXPECT_EQ(device.slices, 1) << "a close is seen after the slice in progress";
        }
    }
}

}  // namespace
}  // namespace qv
