#include "link/FrameCodec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qv {
namespace {

constexpr std::array<std::uint8_t, 256> MakeEscapeTable() {
    std::array<std::uint8_t, 256> table{};
    table[kFrameStart] = 1;
    table[kFrameEnd] = 1;
    table[kFrameEscape] = 1;
    return table;
}
constexpr auto kEscapeTable = MakeEscapeTable();

// Appends b, escaped when it must be. Returns false when out is full.
inline bool Put(std::uint8_t b, std::uint8_t*& at, const std::uint8_t* end) {
    if (kEscapeTable[b]) {
        if (end - at < 2) {
            return false;
        }
        *at++ = kFrameEscape;
        *at++ = static_cast<std::uint8_t>(b ^ kEscapeXor);
        return true;
    }
    if (at == end) {
        return false;
    }
    *at++ = b;
    return true;
}

}  // namespace

std::uint8_t FrameChecksum(const FrameHeader& header, std::span<const std::uint8_t> payload) {
    unsigned sum = header.cmd + header.code + header.count + header.index;
    for (std::uint8_t b : payload) {
        sum += b;
    }
    return static_cast<std::uint8_t>(sum);
}

std::size_t EncodedFrameSize(const FrameHeader& header, std::span<const std::uint8_t> payload) {
    std::size_t escapes = 0;
    for (std::uint8_t b : payload) {
        escapes += kEscapeTable[b];
    }
    const std::uint8_t head[] = {header.cmd, header.code, header.count, header.index,
                                 FrameChecksum(header, payload)};
    for (std::uint8_t b : head) {
        escapes += kEscapeTable[b];
    }
    return 2 + kFrameOverhead + payload.size() + escapes;
}

std::size_t EncodeFrame(const FrameHeader& header, std::span<const std::uint8_t> payload,
                        std::span<std::uint8_t> out) {
    if (payload.size() > kMaxPayload || out.size() < kMinFrameBytes) {
        return 0;
    }
    std::uint8_t* at = out.data();
    const std::uint8_t* end = out.data() + out.size();
    *at++ = kFrameStart;
    if (!Put(header.cmd, at, end) || !Put(header.code, at, end) || !Put(header.count, at, end) ||
        !Put(header.index, at, end)) {
        return 0;
    }
    // Copy runs of plain bytes whole; only the escapable ones go one by one.
    const std::uint8_t* src = payload.data();
    const std::uint8_t* srcEnd = src + payload.size();
    while (src < srcEnd) {
        const std::uint8_t* run = src;
        while (run < srcEnd && !kEscapeTable[*run]) {
            ++run;
        }
        const auto n = static_cast<std::size_t>(run - src);
        if (static_cast<std::size_t>(end - at) < n) {
            return 0;
        }
        std::memcpy(at, src, n);
        at += n;
        src = run;
        if (src < srcEnd) {
            if (!Put(*src, at, end)) {
                return 0;
            }
            ++src;
        }
    }
    if (!Put(FrameChecksum(header, payload), at, end) || at == end) {
        return 0;
    }
    *at++ = kFrameEnd;
    return static_cast<std::size_t>(at - out.data());
}

}  // namespace qv
