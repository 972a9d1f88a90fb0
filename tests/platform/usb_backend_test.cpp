// The libusb backend without an instrument, and the slice loop its transfers run: a block in
// pieces is gathered whole, a short packet ends it, a stall ends at the deadline, a close at once.
#include <gtest/gtest.h>

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
        error = 0;
        EXPECT_EQ(system.Open(path, UsbShare::ReadWrite, error), kInvalidUsbHandle) << path;
        EXPECT_EQ(error, kUsbErrorFileNotFound) << path;
    }
    std::uint8_t byte = 0;
    std::size_t n = 0;
    EXPECT_FALSE(system.Read(12345, &byte, 1, n, 10ms));
    EXPECT_FALSE(system.Write(12345, &byte, 1, n));
    system.Close(12345);
}

TEST(BulkTransfer, GathersPiecesUntilWholeOrShort) {
    // What the device side hands out, one slice at a time, then it stays idle; whether the
    // backend is closing; whether the transfer ended; the bytes it moved.
    using Steps = std::vector<std::pair<SliceResult, std::size_t>>;
    constexpr auto kPiece = SliceResult::TimedOut, kDone = SliceResult::Done;
    const std::tuple<const char*, Steps, bool, bool, std::size_t> cases[] = {
        // clang-format off
        {"whole in one", {{kDone, 4096}}, false, true, 4096},
        {"split by a time-out", {{kPiece, 2560}, {kDone, 1536}}, false, true, 4096},
        {"idle slices between", {{kPiece, 64}, {kPiece, 0}, {kPiece, 1000}, {kPiece, 0}, {kPiece, 3032}}, false, true, 4096},
        {"short packet ends it", {{kPiece, 100}, {kDone, 28}}, false, true, 128},
        {"stalls part way", {{kPiece, 1000}}, false, false, 1000},
        {"nothing comes", {}, false, false, 0},
        {"device gone", {{kPiece, 10}, {SliceResult::Failed, 0}}, false, false, 10},
        {"closed", {{kPiece, 10}, {kPiece, 10}}, true, false, 10},
        // clang-format on
    };
    for (const auto& [name, steps, closes, ended, total] : cases) {
        SCOPED_TRACE(name);
        std::size_t slices = 0;
        std::uint8_t next = 0;
        const BulkSlice slice = [&](std::uint8_t* data, std::size_t length, std::size_t& moved) {
            const auto [result, bytes] =
                slices < steps.size() ? steps[slices] : Steps::value_type{kPiece, 0};
            ++slices;
            moved = std::min(bytes, length);
            std::generate_n(data, moved, [&] { return next++; });
            return result;
        };
        std::vector<std::uint8_t> block(4096, 0xEE);
        std::size_t done = 0;
        const std::atomic<bool> closing{closes};
        const auto t0 = Clock::now();
        EXPECT_EQ(RunBulkTransfer(slice, block.data(), block.size(), done, t0 + 100ms, closing),
                  ended);
        EXPECT_EQ(done, total);
        // In order, nothing lost or repeated between pieces.
        std::vector<std::uint8_t> expected(total);
        std::iota(expected.begin(), expected.end(), std::uint8_t{0});
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin()));
        EXPECT_LT(Clock::now() - t0, 1s);
        EXPECT_TRUE(!closes || slices == 1) << "a close is seen after the slice in progress";
    }
}

}  // namespace
}  // namespace qv
