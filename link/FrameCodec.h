// Frame layout on the wire, TCP and USB alike:
//
//   7F | cmd | code | count | index | payload (0..4096) | sum | 7E
//        \______________ escaped: 7D/7E/7F -> 7D, b^0x20 ____/
//
// sum is the byte sum of cmd..payload before escaping. These are pure functions over
// byte spans: no I/O, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qv {

inline constexpr std::uint8_t kFrameStart = 0x7F;
inline constexpr std::uint8_t kFrameEnd = 0x7E;
inline constexpr std::uint8_t kFrameEscape = 0x7D;
inline constexpr std::uint8_t kEscapeXor = 0x20;

inline constexpr std::size_t kMaxPayload = 4096;
// Header (cmd, code, count, index) plus checksum, before escaping.
inline constexpr std::size_t kFrameOverhead = 5;
// Smallest frame on the wire: markers plus an unescaped header and checksum.
inline constexpr std::size_t kMinFrameBytes = kFrameOverhead + 2;
// Largest legal frame on the wire: every escapable byte escaped.
inline constexpr std::size_t kMaxEncodedFrame = 2 * (kFrameOverhead + kMaxPayload) + 2;
// The joined payloads of one answer (a whole screen file) must fit this.
inline constexpr std::size_t kMaxAnswerBytes = 400000;

struct FrameHeader {
    std::uint8_t cmd = 0;
    std::uint8_t code = 0;
    std::uint8_t count = 0;
    std::uint8_t index = 0;
};

inline constexpr bool NeedsEscape(std::uint8_t b) {
    return b == kFrameStart || b == kFrameEnd || b == kFrameEscape;
}

// Sum modulo 256 of the header bytes and the payload.
std::uint8_t FrameChecksum(const FrameHeader& header, std::span<const std::uint8_t> payload);

// Bytes the encoded frame takes on the wire (markers and escapes included).
std::size_t EncodedFrameSize(const FrameHeader& header, std::span<const std::uint8_t> payload);

// Encodes one frame into out. Returns the bytes written, or 0 when the payload is longer
// than kMaxPayload or the frame does not fit out; out is then left in an unspecified state.
std::size_t EncodeFrame(const FrameHeader& header, std::span<const std::uint8_t> payload,
                        std::span<std::uint8_t> out);

}  // namespace qv
