// One USB bulk transfer, run as short slices so that a close from another thread is seen
// quickly. A slice that timed out is not the end of the transfer: the bytes it moved stay,
// and the next slice asks for the rest. An IN transfer ends when the buffer is full or a short
// packet ends it (a slice that completes with fewer bytes than it asked for); returning the
// part that came before a time-out as a whole block would make the rest the next block.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace qv {

enum class SliceResult {
    Done,      // the slice's transfer completed (all it asked for, or a short packet)
    TimedOut,  // the slice's time ran out; transferred says what moved before
    Failed,    // the device failed or went away
};

// Runs one slice of at most length bytes into (or from) data.
using BulkSlice =
    std::function<SliceResult(std::uint8_t* data, std::size_t length, std::size_t& transferred)>;

// True when the transfer ended: length bytes moved or a short packet ended it. False when
// a slice failed, closing became true, or deadline passed first. done says what moved.
bool RunBulkTransfer(const BulkSlice& slice, std::uint8_t* data, std::size_t length,
                     std::size_t& done, std::chrono::steady_clock::time_point deadline,
                     const std::atomic<bool>& closing);

}  // namespace qv
