#include "link/Printable.h"

#include <array>
#include <cstdint>

namespace qv {
namespace {

// Length of the well-formed UTF-8 character at the start of s whose code point is U+00A0 or
// above (C1 controls, U+0080 to U+009F, are control characters too); 0 for anything else.
std::size_t PrintableUtf8(std::string_view s) {
    const auto byte = [&s](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80;  // the second byte's range rules out overlong forms and surrogates
    std::uint8_t high = 0xBF;
    if (lead == 0xC2) {
        length = 2;
        low = 0xA0;
    } else if (lead >= 0xC3 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string Printable(std::string_view text) {
    static constexpr std::array<char, 17> kHex{"0123456789abcdef"};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else if (const std::size_t n = b >= 0x80 ? PrintableUtf8(text.substr(i)) : 0; n > 0) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
        ++i;
    }
    return out;
}

}  // namespace qv
