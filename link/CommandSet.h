// What the program asks of an instrument: request codes and their payloads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qv {

inline constexpr std::uint8_t kCmdRequest = 0x41;  // "A", cmd byte of every request
inline constexpr std::uint8_t REQ_EQINFO = 80;
inline constexpr std::uint8_t REQ_SCREEN = 96;
inline constexpr std::uint8_t REQ_CMD = 97;

inline constexpr std::string_view kScreenFileName = "currentdisp.jpg";
inline constexpr std::uint32_t kScreenFileSize = 400000;

// 0  name (80, zero-terminated, zero padded) | 80  size (u32 little-endian)
inline constexpr std::size_t kFileEntrySize = 84;
inline constexpr std::size_t kFileEntryNameMax = 79;
using FileEntry = std::array<std::uint8_t, kFileEntrySize>;

// text + terminating zero, zero padded
inline constexpr std::size_t kTextPayloadSize = 128;
inline constexpr std::size_t kTextMax = kTextPayloadSize - 1;
// A command line is its text and a line feed: 126 characters leave room for both and the zero.
inline constexpr std::size_t kCommandTextMax = kTextMax - 1;
using TextPayload = std::array<std::uint8_t, kTextPayloadSize>;

// Empty when the name is longer than kFileEntryNameMax.
std::optional<FileEntry> BuildFileEntry(std::string_view name, std::uint32_t size);

// Empty when the text is longer than kTextMax: a cut command must never reach the instrument.
std::optional<TextPayload> BuildTextPayload(std::string_view text);

// The USB handshake block opens with this line and a zero byte.
inline constexpr std::string_view kUsbHandshake = "LANCOMMAND\n";

}  // namespace qv
