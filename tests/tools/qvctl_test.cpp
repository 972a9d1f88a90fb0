// qvctl's addresses as people type them, and the program itself against a simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <ostream>
#include <string>

#include "sim/SimServer.h"
#include "tools/qvctl/Target.h"

namespace {

struct AddressCase {
    const char* text;
    bool ok;
    const char* host;
    int port;
    bool ipv6;
};

void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class Addresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(Addresses, Parse) {
    const AddressCase& c = GetParam();
    qvctl::Target t;
    ASSERT_EQ(qvctl::ParseTarget(c.text, t), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(t.host, c.host);
        EXPECT_EQ(t.port, c.port);
        EXPECT_EQ(t.ipv6, c.ipv6);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Qvctl, Addresses,
    ::testing::Values(
        AddressCase{"192.168.1.20", true, "192.168.1.20", 66, false},
        AddressCase{"192.168.1.20:6600", true, "192.168.1.20", 6600, false},
        AddressCase{"analyser.local", true, "analyser.local", 66, false},
        AddressCase{"::1", true, "::1", 66, true},
        AddressCase{"[::1]:6600", true, "::1", 6600, true},
        AddressCase{"[::1]", true, "::1", 66, true},
        AddressCase{"fe80::1%lo", true, "fe80::1%lo", 66, true},
        AddressCase{"2001:db8::7", true, "2001:db8::7", 66, true},
        AddressCase{"300.1.2.3", false, "", 0, false}, AddressCase{"1.2.3", false, "", 0, false},
        AddressCase{"1.2.3.4:0", false, "", 0, false},
        AddressCase{"1.2.3.4:70000", false, "", 0, false}, AddressCase{"[::1", false, "", 0, false},
        AddressCase{"[::1]x", false, "", 0, false}, AddressCase{"::g", false, "", 0, false},
        AddressCase{"a b", false, "", 0, false}, AddressCase{"", false, "", 0, false}));

struct Outcome {
    int status = -1;
    std::string output;
};

Outcome Qvctl(const std::string& args) {
    Outcome run;
    const std::string command = std::string(QVCTL_PATH) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
        run.output += buffer.data();
    }
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

TEST(QvctlProgram, MalformedAddressesAreBadAddressesNotConnectFailures) {
    for (const char* bad : {"300.1.2.3", "[::1", "::zz", "1.2.3.4:99999"}) {
        const Outcome run = Qvctl(std::string("'") + bad + "' info");
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.output.find("bad address"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("cannot connect"), std::string::npos) << run.output;
    }
}

TEST(QvctlProgram, Ipv6LiteralConnectsWithoutTheFlag) {
    qv::sim::SimServer sim;
    if (!sim.Start("::1", 0)) {
        GTEST_SKIP() << "no IPv6 loopback: " << sim.error();
    }
    sim.instrument().SetModel("QV392B");
    const Outcome run = Qvctl("'[::1]:" + std::to_string(sim.port()) + "' info");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("QV392B"), std::string::npos) << run.output;
}

}  // namespace
