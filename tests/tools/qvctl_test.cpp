// qvctl: addresses as people type them, and the program itself against a simulator and peers
// that misbehave: it ends within the answer deadline and never saves a screen joined wrongly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "link/CDevComm.h"
#include "sim/SimServer.h"
#include "tests/TestFiles.h"
#include "tests/link/MaliciousPeer.h"
#include "tools/qvctl/Target.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Outcome {
    int status = -1;
    std::string output;
    std::chrono::milliseconds took{};
};

Outcome Qvctl(const std::string& args) {
    Outcome run;
    const auto t0 = Clock::now();
    FILE* pipe = ::popen((std::string(QVCTL_PATH) + " " + args + " 2>&1").c_str(), "r");
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        run.output += buffer;
    }
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    return run;
}

TEST(Qvctl, AddressesAsPeopleTypeThemARestartedAnswerSavedWithoutItsOldPart) {
    // clang-format off
    const std::tuple<const char*, std::string, int, bool> good[] = {
        {"192.168.1.20", "192.168.1.20", 66, false}, {"192.168.1.20:6600", "192.168.1.20", 6600, false},
        {"analyser.local", "analyser.local", 66, false}, {"::1", "::1", 66, true}, {"[::1]:6600", "::1", 6600, true},
        {"[::1]", "::1", 66, true}, {"fe80::1%lo", "fe80::1%lo", 66, true}, {"2001:db8::7", "2001:db8::7", 66, true}};
    // clang-format on
    for (const auto& [text, host, port, ipv6] : good) {
        qvctl::Target t;
        ASSERT_TRUE(qvctl::ParseTarget(text, t)) << text;
        EXPECT_EQ(std::tie(t.host, t.port, t.ipv6), std::tie(host, port, ipv6)) << text;
    }
    for (const char* bad :
         {"300.1.2.3", "1.2.3", "1.2.3.4:0", "1.2.3.4:70000", "[::1", "[::1]x", "::g", "a b", ""}) {
        qvctl::Target t;
        EXPECT_FALSE(qvctl::ParseTarget(bad, t)) << bad;
    }
    // The program: a bad address, not a connect failure.
    for (const char* bad : {"300.1.2.3", "[::1", "::zz", "1.2.3.4:99999"}) {
        const Outcome run = Qvctl(std::string("'") + bad + "' info");
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.output.find("bad address"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("cannot connect"), std::string::npos) << run.output;
    }
    MaliciousPeer restart([](MaliciousPeer::Wire& w) {
        w.Send(Frames(2, {{0, "STALE-"}, {0, "FRESH-"}, {1, "SCREEN"}}));
    });
    const std::string file = std::filesystem::temp_directory_path() / "restart.jpg";
    const Outcome r = Qvctl("127.0.0.1:" + std::to_string(restart.port()) + " screenshot " + file);
    ASSERT_EQ(r.status, 0) << r.output;
    std::ifstream saved(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "FRESH-SCREEN");
    sim::SimServer sim;
    if (!sim.Start("::1", 0)) {
        GTEST_SKIP() << "no IPv6 loopback: " << sim.error();
    }
    const Outcome run = Qvctl("'[::1]:" + std::to_string(sim.port()) + "' info");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("QV392B"), std::string::npos) << run.output;
}

// The screenshot is made as any tool makes a file: 0666 less the umask; one that is there keeps
// its mode, never more. The instrument's text reaches the terminal with nothing it acts on.
TEST(Qvctl, ScreenshotModeFollowsTheUmaskAndTheModelNameIsPrintedEscaped) {
    sim::SimServer sim;
    ASSERT_TRUE(sim.Start("127.0.0.1", 0));
    sim.instrument().KeepServedScreens(1);
    const std::string at = "127.0.0.1:" + std::to_string(sim.port());
    const auto dir = std::filesystem::temp_directory_path() / "modes";
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    struct Case {
        mode_t umask;
        mode_t before;  // 0: no file yet
        mode_t after;
    };
    const Case cases[] = {{022, 0, 0644},    {077, 0, 0600},    {002, 0, 0664},  {0, 0, 0666},
                          {022, 0600, 0600}, {077, 0644, 0600}, {0, 0640, 0640}, {0, 0755, 0644}};
    int i = 0;
    for (const Case& c : cases) {
        const std::string file = dir / ("shot" + std::to_string(++i) + ".jpg");
        if (c.before != 0) {
            std::ofstream(file) << "old";
            ASSERT_EQ(::chmod(file.c_str(), c.before), 0);
        }
        std::string args = at;
        args += " screenshot " + file;
        const mode_t old = ::umask(c.umask);
        const Outcome r = Qvctl(args);
        ::umask(old);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(FileMode(file), S_IFREG | c.after)
            << std::oct << "umask " << c.umask << " before " << c.before;
        const auto served = sim.instrument().ServedScreens();
        ASSERT_EQ(served.size(), 1u);
        std::ifstream saved(file, std::ios::binary);
        EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(saved), {}),
                  served.front());
    }
    sim.instrument().SetModel(
        "QV392B\x1b]0;owned\x07\x1b[2J\r\x9b"
        "1m\\");
    const Outcome r = Qvctl(at + " info");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "QV392B\\x1b]0;owned\\x07\\x1b[2J\\x0d\\x9b1m\\\\\n");
}

// The engine's deadlines are tested there; here the program gives up, says so, saves nothing.
TEST(Qvctl, EndsWithinTheAnswerDeadlineWhenFlooded) {
    MaliciousPeer flood(Flood);
    const std::string file = std::filesystem::temp_directory_path() / "flood.jpg";
    const Outcome r = Qvctl("127.0.0.1:" + std::to_string(flood.port()) + " screenshot " + file);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("STR_ERROR_TIMEOUT"), std::string::npos) << r.output;
    EXPECT_GE(r.took, CDevComm::kAnswerDeadline - 200ms);
    EXPECT_LE(r.took, CDevComm::kAnswerDeadline + 1500ms);
    EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace qv::test
