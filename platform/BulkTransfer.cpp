#include "platform/BulkTransfer.h"

#include <algorithm>

namespace qv {

bool RunBulkTransfer(const BulkSlice& slice, std::uint8_t* data, std::size_t length,
                     std::size_t& done, std::chrono::steady_clock::time_point deadline,
                     const std::atomic<bool>& closing) {
    done = 0;
    for (;;) {
        std::size_t transferred = 0;
        const SliceResult result = slice(data + done, length - done, transferred);
        done += std::min(transferred, length - done);
        if (result == SliceResult::Done || done >= length) {
            return true;
        }
        if (result == SliceResult::Failed || closing.load() ||
            std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
}

}  // namespace qv
