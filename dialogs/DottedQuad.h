// The dotted-quad text of an IPv4 address, as the address dialogs read and write it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

using Quad = std::array<std::uint8_t, 4>;

// Lenient parse: each of the first three fields runs to the next "." (empty when there is
// none), the fourth is the rest; each field is a decimal number read from its start (leading
// blanks and one sign allowed, 0 without digits) reduced to its low 8 bits.
// "192.168.1" gives 192.168.0.1, "300.1.2.3" gives 44.1.2.3.
Quad ParseDottedQuad(std::string_view text);

// Strict parse of what a user pastes: exactly four fields of one to three digits, each at most
// 255, nothing else. Nothing when the text is not such an address.
std::optional<Quad> ParseStrictDottedQuad(std::string_view text);
// One to three digits, at most 255.
std::optional<std::uint8_t> ParseStrictField(std::string_view text);

// "%d.%d.%d.%d".
std::string FormatDottedQuad(const Quad& quad);

// The leading decimal number of text, saturated to the 32-bit range.
std::int32_t LeadingNumber(std::string_view text);

}  // namespace qv
