// qvctl: addresses as people type them, and the program itself against a simulator and peers
// that misbehave: it ends within the answer deadline and never saves a screen joined wrongly;
// what it loads for each command, and how it finds the helpers that run serve, export, record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>

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

Outcome Qvctl(const std::string& args, const std::string& program = QVCTL_PATH) {
    Outcome run;
    const auto t0 = Clock::now();
    FILE* pipe = ::popen((program + " " + args + " 2>&1").c_str(), "r");
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

// qvctl started on its own, its output thrown away.
pid_t Start(std::vector<std::string> args) {
    args.insert(args.begin(), QVCTL_PATH);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// The link commands start without Qt or FFmpeg; serve and record, through the same front door
// and in the same process, map what they need and only that. Each is looked at while it waits
// on an instrument that took its request and never answers.
TEST(Qvctl, EachCommandMapsOnlyTheLibrariesItNeeds) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("qvctl-maps-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    const std::vector<std::string> heavy = {"libavcodec",      "libavformat",   "libswscale",
                                            "libQt6Core",      "libQt6Network", "libQt6HttpServer",
                                            "libQt6WebSockets"};
    struct Case {
        std::vector<std::string> args;  // TARGET stands for the silent instrument
        std::vector<std::string> mapped;
    };
    const Case cases[] = {
        {{"TARGET", "info"}, {}},
        {{"TARGET", "watch", "5"}, {}},
        {{"record", "TARGET", dir / "out.mkv"},
         {"libavcodec", "libavformat", "libswscale", "libQt6Core"}},
        {{"serve", "TARGET", "--listen", "127.0.0.1:0"},
         {"libQt6Core", "libQt6Network", "libQt6HttpServer", "libQt6WebSockets"}},
    };
    for (Case c : cases) {
        std::promise<void> asked;
        MaliciousPeer silent([&](MaliciousPeer::Wire&) { asked.set_value(); });
        for (auto& a : c.args) {
            a = a == "TARGET" ? "127.0.0.1:" + std::to_string(silent.port()) : a;
        }
        const pid_t pid = Start(c.args);
        ASSERT_GT(pid, 0);
        const bool waiting = asked.get_future().wait_for(20s) == std::future_status::ready;
        const std::string maps = ReadAll("/proc/" + std::to_string(pid) + "/maps");
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ASSERT_TRUE(waiting) << c.args[0] << ": no request reached the instrument";
        for (const auto& lib : heavy) {
            const bool expected =
                std::find(c.mapped.begin(), c.mapped.end(), lib) != c.mapped.end();
            EXPECT_EQ(maps.find("/" + lib + ".so") != std::string::npos, expected)
                << c.args[0] << " " << c.args[1] << ": " << lib;
        }
    }
    std::filesystem::remove_all(dir);
}

// A shell script standing in for a helper: prints who it is and its arguments, exits 7.
void FakeHelper(const std::filesystem::path& path, const std::string& name) {
    std::ofstream(path) << "#!/bin/sh\necho " << name << " \"$@\"\nexit 7\n";
    std::filesystem::permissions(path, std::filesystem::perms(0755));
}

// qvctl finds a helper beside itself (a build tree) before the private folder of an installed
// tree, and hands it its arguments; the output and exit status are the helper's own. A missing
// helper is named with where it was looked for; one that cannot run is not passed over.
TEST(Qvctl, HelpersAreFoundBesideItOrInstalledAndAMissingOneIsNamed) {
    namespace fs = std::filesystem;
    const auto root = fs::temp_directory_path() / ("qvctl-helpers-" + std::to_string(::getpid()));
    fs::remove_all(root);
    ASSERT_TRUE(fs::create_directories(root / "bin"));
    ASSERT_TRUE(fs::create_directories(root / "lib/qvremote"));
    const std::string qvctl = root / "bin/qvctl";
    fs::copy_file(QVCTL_PATH, qvctl);
    fs::permissions(qvctl, fs::perms(0755));

    const std::pair<std::string, std::string> commands[] = {
        {"serve 127.0.0.1 --control", "qvctl-share"},
        {"export rec_1 out.mkv", "qvctl-media"},
        {"record 127.0.0.1 out.mp4 --seconds 1", "qvctl-media"}};
    for (const auto& [args, helper] : commands) {
        const Outcome r = Qvctl(args, qvctl);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.output, "qvctl: " + args.substr(0, args.find(' ')) + " needs the program " +
                                helper + ", which is neither in " + (root / "bin").string() +
                                " nor in " + (root / "lib/qvremote").string() +
                                " (reinstall qvremote)\n");
    }
    // Link commands need no helper.
    EXPECT_EQ(Qvctl("--version", qvctl).status, 0);

    FakeHelper(root / "lib/qvremote/qvctl-share", "installed");
    FakeHelper(root / "lib/qvremote/qvctl-media", "installed");
    Outcome r = Qvctl("serve 127.0.0.1 --control", qvctl);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.output, "installed serve 127.0.0.1 --control\n");
    r = Qvctl("export 'a folder' out.mkv --force", qvctl);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.output, "installed export a folder out.mkv --force\n");

    FakeHelper(root / "bin/qvctl-share", "beside");
    r = Qvctl("serve 127.0.0.1", qvctl);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.output, "beside serve 127.0.0.1\n");

    fs::permissions(root / "bin/qvctl-share", fs::perms(0644));
    r = Qvctl("serve 127.0.0.1", qvctl);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "qvctl: cannot run " + (root / "bin/qvctl-share").string() + ": Permission denied\n");
    fs::remove_all(root);
}

}  // namespace
}  // namespace qv::test
