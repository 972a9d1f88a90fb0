// qvctl serve's --listen: IP literals only, the port at its edges.
#include <gtest/gtest.h>

#include "tools/qvctl/Serve.h"

namespace {

struct ListenCase {
    const char* text;
    bool ok;
    const char* address;
    int port;
};

class ListenTest : public testing::TestWithParam<ListenCase> {};

TEST_P(ListenTest, Parses) {
    std::string address;
    int port = -1;
    const ListenCase& c = GetParam();
    ASSERT_EQ(qvctl::ParseListen(c.text, address, port), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Listen, ListenTest,
    testing::Values(ListenCase{"127.0.0.1:8066", true, "127.0.0.1", 8066},
                    ListenCase{"127.0.0.1", true, "127.0.0.1", 8066},  // the default port
                    ListenCase{"0.0.0.0:0", true, "0.0.0.0", 0},       // any free port
                    ListenCase{"[::1]:65535", true, "::1", 65535},
                    ListenCase{"[::]:8066", true, "::", 8066}, ListenCase{"::1", true, "::1", 8066},
                    ListenCase{"127.0.0.1:65536", false, "", 0},
                    ListenCase{"127.0.0.1:", false, "", 0}, ListenCase{"[::1", false, "", 0},
                    ListenCase{"[::1]8066", false, "", 0},
                    ListenCase{"example.com:80", false, "", 0},  // names are not taken
                    ListenCase{"", false, "", 0}));

}  // namespace
