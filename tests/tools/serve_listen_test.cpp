// qvctl serve's --listen: IP literals only, the port at its edges.
#include <gtest/gtest.h>

#include "tools/qvctl/Serve.h"

namespace {

TEST(Listen, IpLiteralsOnlyAndThePortAtItsEdges) {
    const std::tuple<const char*, const char*, int> good[] = {
        {"127.0.0.1:8066", "127.0.0.1", 8066},
        {"127.0.0.1", "127.0.0.1", 8066},  // the default port
        {"0.0.0.0:0", "0.0.0.0", 0},       // any free port
        {"[::1]:65535", "::1", 65535},
        {"[::]:8066", "::", 8066},
        {"::1", "::1", 8066}};
    for (const auto& [text, address, port] : good) {
        std::string a;
        int p = -1;
        ASSERT_TRUE(qvctl::ParseListen(text, a, p)) << text;
        EXPECT_EQ(std::pair(a, p), std::pair(std::string(address), port)) << text;
    }
    // Names are not taken.
    for (const char* bad :
         {"127.0.0.1:65536", "127.0.0.1:", "[::1", "[::1]8066", "example.com:80", ""}) {
        std::string a;
        int p = -1;
        EXPECT_FALSE(qvctl::ParseListen(bad, a, p)) << bad;
    }
}

}  // namespace
