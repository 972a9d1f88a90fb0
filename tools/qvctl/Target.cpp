#include "tools/qvctl/Target.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdlib>

namespace qvctl {
namespace {

constexpr std::size_t kMaxHostName = 253;

bool ParsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// An IPv6 literal, a zone ("%eth0") allowed: what the resolver takes without a look-up.
bool IsIpv6Literal(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
        return false;
    }
    freeaddrinfo(list);
    return true;
}

// Dotted digits must make an IPv4 address; anything else must read as a host name.
bool IsIpv4OrName(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostName) {
        return false;
    }
    if (host.find_first_not_of("0123456789.") == std::string::npos) {
        in_addr address{};
        return inet_pton(AF_INET, host.c_str(), &address) == 1;
    }
    if (host.front() == '-' || host.front() == '.' || host.find("..") != std::string::npos) {
        return false;
    }
    return host.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
               "0123456789.-_") == std::string::npos;
}

}  // namespace

bool ParseTarget(const std::string& text, Target& target) {
    target = Target{};
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) {
            return false;
        }
        target.host = text.substr(1, close - 1);
        target.ipv6 = true;
        if (close + 1 != text.size() &&
            (text[close + 1] != ':' || !ParsePort(text.substr(close + 2), target.port))) {
            return false;
        }
        return IsIpv6Literal(target.host);
    }
    const auto colon = text.find(':');
    // More than one colon: a bare IPv6 address, which takes no port without brackets.
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
        target.host = text;
        target.ipv6 = true;
        return IsIpv6Literal(target.host);
    }
    if (colon == std::string::npos) {
        target.host = text;
    } else {
        target.host = text.substr(0, colon);
        if (!ParsePort(text.substr(colon + 1), target.port)) {
            return false;
        }
    }
    return IsIpv4OrName(target.host);
}

}  // namespace qvctl
