#include "link/FrameAssembler.h"

#include <cstring>

namespace qv {
namespace {

constexpr std::array<std::uint8_t, 256> MakeSpecialTable() {
    std::array<std::uint8_t, 256> table{};
    table[kFrameStart] = 1;
    table[kFrameEnd] = 1;
    table[kFrameEscape] = 1;
    return table;
}
constexpr auto kSpecial = MakeSpecialTable();

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
            // Plain bytes go in whole runs.
            const std::uint8_t* run = at;
            while (run < end && !kSpecial[*run]) {
                ++run;
            }
            const auto n = static_cast<std::size_t>(run - at);
            if (n > buf_.size() - length_) {
                at += buf_.size() - length_ + 1;
                Reset();
                return {Status::ErrorPacket, used()};
            }
            std::memcpy(buf_.data() + length_, at, n);
            length_ += n;
            at = run;
            if (at == end) {
                break;
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
