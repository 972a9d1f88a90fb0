#include "link/FrameAssembler.h"

#include <bit>
#include <cstring>

namespace qv {
namespace {

// The three marker bytes are 0x7D..0x7F: a byte is one when its top bit is clear and its low
// seven bits are at least 0x7D.
static_assert(kFrameEscape == 0x7D && kFrameEnd == 0x7E && kFrameStart == 0x7F);

// The top bit of each byte of w that is a marker (no carry crosses a byte: 0x7F + 3 < 0x100).
std::uint64_t SpecialBits(std::uint64_t w) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    constexpr std::uint64_t kTop = 0x8080808080808080ULL;
    constexpr std::uint64_t kThrees = 0x0303030303030303ULL;
    return ((w & kLow7) + kThrees) & ~w & kTop;
}

// Index of the first marker byte in memory order, from SpecialBits' non-zero result.
std::size_t FirstSpecial(std::uint64_t bits) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::size_t>(std::countr_zero(bits)) / 8;
    } else {
        return static_cast<std::size_t>(std::countl_zero(bits)) / 8;
    }
}

}  // namespace

void FrameAssembler::Reset() {
    inFrame_ = false;
    escaped_ = false;
    length_ = 0;
}

FrameAssembler::Result FrameAssembler::Feed(std::span<const std::uint8_t> input) {
    const std::uint8_t* const begin = input.data();
    const std::uint8_t* const end = begin + input.size();
    const std::uint8_t* at = begin;
    auto used = [&] { return static_cast<std::size_t>(at - begin); };

    while (at < end) {
        if (!inFrame_) {
            if (*at++ != kFrameStart) {
                return {Status::ErrorPacket, used()};
            }
            inFrame_ = true;
            escaped_ = false;
            length_ = 0;
            continue;
        }
        if (!escaped_) {
            // Plain bytes go in whole runs, copied a word at a time while one fits both sides;
            // only the bytes before a marker count.
            const std::uint8_t* run = at;
            std::uint8_t* out = buf_.data() + length_;
            std::uint8_t* const outEnd = buf_.data() + buf_.size();
            while (end - run >= 8 && outEnd - out >= 8) {
                std::uint64_t word = 0;
                std::memcpy(&word, run, 8);
                std::memcpy(out, run, 8);
                const std::uint64_t bits = SpecialBits(word);
                if (bits != 0) {
                    const std::size_t n = FirstSpecial(bits);
                    run += n;
                    out += n;
                    break;
                }
                run += 8;
                out += 8;
            }
            while (run < end && out < outEnd && !NeedsEscape(*run)) {
                *out++ = *run++;
            }
            length_ = static_cast<std::size_t>(out - buf_.data());
            at = run;
            if (at == end) {
                break;
            }
            if (!NeedsEscape(*at)) {
                // The frame would grow past the largest one.
                ++at;
                Reset();
                return {Status::ErrorPacket, used()};
            }
        }
        const std::uint8_t b = *at++;
        if (b == kFrameStart) {
            // A start marker inside a frame starts it again.
            escaped_ = false;
            length_ = 0;
            continue;
        }
        if (b == kFrameEnd) {
            if (escaped_) {
                Reset();
                return {Status::ErrorPacket, used()};
            }
            return Finish(used());
        }
        if (b == kFrameEscape && !escaped_) {
            escaped_ = true;
            continue;
        }
        if (length_ == buf_.size()) {
            Reset();
            return {Status::ErrorPacket, used()};
        }
        buf_[length_++] = escaped_ ? static_cast<std::uint8_t>(b ^ kEscapeXor) : b;
        escaped_ = false;
    }
    return {Status::NeedMore, used()};
}

FrameAssembler::Result FrameAssembler::Finish(std::size_t consumed) {
    const std::size_t length = length_;
    Reset();
    if (length < kFrameOverhead) {
        return {Status::ErrorPacket, consumed};
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < length; ++i) {
        sum += buf_[i];
    }
    if (static_cast<std::uint8_t>(sum) != buf_[length - 1]) {
        return {Status::ErrorChecksum, consumed};
    }
    frame_.header = FrameHeader{buf_[0], buf_[1], buf_[2], buf_[3]};
    frame_.payload = std::span<const std::uint8_t>(buf_.data() + 4, length - kFrameOverhead);
    return {Status::Frame, consumed};
}

}  // namespace qv
