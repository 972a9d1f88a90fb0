#include "dialogs/DottedQuad.h"

#include <cstdio>
#include <limits>

namespace qv {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Saturate rather than overflow: an over-long field gives the extreme value.
    constexpr long long kLimit =
        static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) {
            value = kLimit;
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(value >= kLimit ? kLimit - 1 : value);
}

Quad ParseDottedQuad(std::string_view text) {
    Quad quad{};
    std::string_view rest = text;
    for (int i = 0; i < 3; ++i) {
        const std::size_t dot = rest.find('.');
        std::string_view field;
        if (dot != std::string_view::npos) {
            field = rest.substr(0, dot);
            rest = rest.substr(dot + 1);
        }
        quad[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(LeadingNumber(field) & 0xFF);
    }
    quad[3] = static_cast<std::uint8_t>(LeadingNumber(rest) & 0xFF);
    return quad;
}

std::optional<std::uint8_t> ParseStrictField(std::string_view text) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<Quad> ParseStrictDottedQuad(std::string_view text) {
    Quad quad{};
    for (std::size_t i = 0; i < quad.size(); ++i) {
        const std::size_t dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        const auto field = ParseStrictField(text.substr(0, dot));
        if (!field) {
            return std::nullopt;
        }
        quad[i] = *field;
        text = text.substr(i < 3 ? dot + 1 : dot);
    }
    return quad;
}

std::string FormatDottedQuad(const Quad& quad) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", quad[0], quad[1], quad[2], quad[3]);
    return text;
}

}  // namespace qv
