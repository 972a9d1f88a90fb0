// Where qvctl connects: an instrument address as people write it on the command line.
//   192.168.1.20   192.168.1.20:6600   name.local   ::1   [::1]:6600   fe80::1%eth0
#pragma once

#include <cstdint>
#include <string>

namespace qvctl {

struct Target {
    std::string host;
    std::uint16_t port = 66;
    bool ipv6 = false;  // an IPv6 literal, with or without brackets
};

// False for anything that is not an IPv4 or IPv6 literal or a host name, or a bad port.
bool ParseTarget(const std::string& text, Target& target);

}  // namespace qvctl
