// qvctl, the program itself: addresses as people type them; against the simulator and peers
// that misbehave (it ends within the answer deadline and never saves a screen joined wrongly);
// what it loads for each command and how it finds its helpers; export and record against the
// simulator over loopback (a link cut in the middle, SIGTERM), with real file-size limits, on
// and off a terminal, the files checked with ffprobe and ffmpeg.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/CDevComm.h"
#include "sim/SimServer.h"
#include "tests/TestFiles.h"
#include "tests/link/SimPeer.h"
#include "tests/media/MediaProbe.h"
#include "tools/qvctl/Target.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// qvctl through a shell, its output and errors together.
Ran Qvctl(const std::string& args, const std::string& program = QVCTL_PATH) {
    return Shell(program + " " + args, true);
}

// qvctl as a child of its own: its output in files, a file-size limit when asked.
class Child {
  public:
    Child(const fs::path& dir, std::vector<std::string> args, rlim_t fileLimit = RLIM_INFINITY)
        : out_(dir / "stdout"), err_(dir / "stderr") {
        args.insert(args.begin(), QVCTL_PATH);
        start_ = Clock::now();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            const rlimit cap{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &cap);
            std::vector<char*> argv;
            argv.reserve(args.size() + 1);
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    pid_t pid() const { return pid_; }
    // Waits up to timeout; the exit status, or -1 when it is still running (then killed).
    int Wait(std::chrono::milliseconds timeout = 30s) {
        const auto until = Clock::now() + timeout;
        while (status_ < 0) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                took_ = Clock::now() - start_;
                break;
            }
            if (Clock::now() >= until) {
                ::kill(pid_, SIGKILL);
                continue;
            }
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }
    std::string Out() const { return ReadAll(out_); }
    std::string Err() const { return ReadAll(err_); }
    Clock::duration took() const { return took_; }

  private:
    fs::path out_;
    fs::path err_;
    pid_t pid_ = -1;
    int status_ = -1;
    Clock::time_point start_;
    Clock::duration took_{};
};

// Polls until pred holds; false when the time ran out.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    for (const auto until = Clock::now() + timeout; !pred();) {
        if (Clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A peer on loopback that reads one request and answers it with bytes: once, or for as long
// as the client reads when flooding; then it holds the connection until the client goes.
class RawPeer {
  public:
    RawPeer(std::vector<std::uint8_t> bytes, bool flood) {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&a), len), 0);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, bytes = std::move(bytes), flood] {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            const timeval limit{30, 0};  // a client that neither reads nor goes
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            std::uint8_t in[512];
            for (ssize_t n; (n = ::recv(client, in, sizeof in, 0)) > 0 &&
                            std::find(in, in + n, kFrameEnd) == in + n;) {
            }
            while (::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0 && flood) {
            }
            while (::recv(client, in, sizeof in, 0) > 0) {
            }
            ::close(client);
        });
    }
    ~RawPeer() {
        ::shutdown(listener_, SHUT_RDWR);  // ends an accept still waiting
        thread_.join();
        ::close(listener_);
    }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;
    std::string target() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port_ = 0;
    std::thread thread_;
};

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
        const Ran run = Qvctl(std::string("'") + bad + "' info");
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.out.find("bad address"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("cannot connect"), std::string::npos) << run.out;
    }
    // An answer begun again at index 0: the screen saved is the fresh one alone.
    const RawPeer restart(Frames(2, {{0, "STALE-"}, {0, "FRESH-"}, {1, "SCREEN"}}), false);
    const std::string file = fs::temp_directory_path() / "restart.jpg";
    const Ran r = Qvctl(restart.target() + " screenshot " + file);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ReadAll(file), "FRESH-SCREEN");
    sim::SimServer sim;
    if (!sim.Start("::1", 0)) {
        GTEST_SKIP() << "no IPv6 loopback: " << sim.error();
    }
    const Ran run = Qvctl("'[::1]:" + std::to_string(sim.port()) + "' info");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("QV392B"), std::string::npos) << run.out;
}

// The screenshot is made as any tool makes a file: 0666 less the umask; one that is there keeps
// its mode, never more.
TEST(Qvctl, ScreenshotModeFollowsTheUmask) {
    sim::SimServer sim;
    ASSERT_TRUE(sim.Start("127.0.0.1", 0));
    sim.instrument().KeepServedScreens(1);
    const auto dir = fs::temp_directory_path() / "modes";
    fs::remove_all(dir);
    ASSERT_TRUE(fs::create_directory(dir));
    struct Case {
        mode_t umask;
        mode_t before;  // 0: no file yet
        mode_t after;
    };
    const Case cases[] = {{0, 0, 0666}, {077, 0, 0600}, {022, 0600, 0600}, {0, 0755, 0644}};
    int i = 0;
    for (const Case& c : cases) {
        const std::string file = dir / ("shot" + std::to_string(++i) + ".jpg");
        if (c.before != 0) {
            std::ofstream(file) << "old";
            ASSERT_EQ(::chmod(file.c_str(), c.before), 0);
        }
        const mode_t old = ::umask(c.umask);
        const Ran r = Qvctl("127.0.0.1:" + std::to_string(sim.port()) + " screenshot " + file);
        ::umask(old);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(FileMode(file), S_IFREG | c.after)
            << std::oct << "umask " << c.umask << " before " << c.before;
        const auto served = sim.instrument().ServedScreens();
        ASSERT_EQ(served.size(), 1u);
        EXPECT_TRUE(ReadAll(file) == std::string(served.front().begin(), served.front().end()));
    }
}

// The engine's deadlines are tested there; here the program gives up, says so, saves nothing.
TEST(Qvctl, EndsWithinTheAnswerDeadlineWhenFlooded) {
    // Whole frames of an answer that never ends, each one starting it again.
    const RawPeer flood(Frames(255, {{0, std::string(100, 0x7E)}}), true);
    const std::string file = fs::temp_directory_path() / "flood.jpg";
    const auto start = Clock::now();
    const Ran r = Qvctl(flood.target() + " screenshot " + file);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("STR_ERROR_TIMEOUT"), std::string::npos) << r.out;
    EXPECT_GE(took, CDevComm::kAnswerDeadline - 200ms);
    EXPECT_LE(took, CDevComm::kAnswerDeadline + 1500ms);
    EXPECT_FALSE(fs::exists(file));
}

// The link commands start without Qt or FFmpeg; serve and record, through the same front door
// and in the same process, map what they need and only that. Each is looked at while it waits
// on an instrument that took its request and never answers.
TEST(Qvctl, EachCommandMapsOnlyTheLibrariesItNeeds) {
    const auto dir = fs::temp_directory_path() / ("qvctl-maps-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ASSERT_TRUE(fs::create_directory(dir));
    sim::SimServer silent;
    ASSERT_TRUE(silent.Start("127.0.0.1", 0));
    silent.instrument().SetFaults({.silent = true});
    const std::string target = "127.0.0.1:" + std::to_string(silent.port());
    const std::vector<std::string> heavy = {"libavcodec",      "libavformat",   "libswscale",
                                            "libQt6Core",      "libQt6Network", "libQt6HttpServer",
                                            "libQt6WebSockets"};
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{target, "info"}, {}},
        {{target, "watch", "5"}, {}},
        {{"record", target, dir / "out.mkv"},
         {"libavcodec", "libavformat", "libswscale", "libQt6Core"}},
        {{"serve", target, "--listen", "127.0.0.1:0"},
         {"libQt6Core", "libQt6Network", "libQt6HttpServer", "libQt6WebSockets"}},
    };
    for (const auto& [args, mapped] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const std::size_t asked = silent.instrument().Requests().size();
        Child run(dir, args);
        ASSERT_TRUE(WaitFor([&] { return silent.instrument().Requests().size() > asked; }, 20s))
            << "no request reached the instrument";
        const std::string maps = ReadAll("/proc/" + std::to_string(run.pid()) + "/maps");
        for (const auto& lib : heavy) {
            const bool expected = std::find(mapped.begin(), mapped.end(), lib) != mapped.end();
            EXPECT_EQ(maps.find("/" + lib + ".so") != std::string::npos, expected) << lib;
        }
    }
    fs::remove_all(dir);
}

// A shell script standing in for a helper: prints who it is and its arguments, exits 7.
void FakeHelper(const fs::path& path, const std::string& name) {
    std::ofstream(path) << "#!/bin/sh\necho " << name << " \"$@\"\nexit 7\n";
    fs::permissions(path, fs::perms(0755));
}

// qvctl finds a helper beside itself (a build tree) before the private folder of an installed
// tree, and hands it its arguments; the output and exit status are the helper's own. A missing
// helper is named with where it was looked for; one that cannot run is not passed over.
TEST(Qvctl, HelpersAreFoundBesideItOrInstalledAndAMissingOneIsNamed) {
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
        const Ran r = Qvctl(args, qvctl);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "qvctl: " + args.substr(0, args.find(' ')) + " needs the program " +
                             helper + ", which is neither in " + (root / "bin").string() +
                             " nor in " + (root / "lib/qvremote").string() +
                             " (reinstall qvremote)\n");
    }
    // Link commands need no helper.
    EXPECT_EQ(Qvctl("--version", qvctl).status, 0);

    FakeHelper(root / "lib/qvremote/qvctl-share", "installed");
    FakeHelper(root / "lib/qvremote/qvctl-media", "installed");
    Ran r = Qvctl("serve 127.0.0.1 --control", qvctl);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "installed serve 127.0.0.1 --control\n");
    r = Qvctl("export 'a folder' out.mkv --force", qvctl);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "installed export a folder out.mkv --force\n");

    FakeHelper(root / "bin/qvctl-share", "beside");
    r = Qvctl("serve 127.0.0.1", qvctl);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "beside serve 127.0.0.1\n");

    fs::permissions(root / "bin/qvctl-share", fs::perms(0644));
    r = Qvctl("serve 127.0.0.1", qvctl);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "qvctl: cannot run " + (root / "bin/qvctl-share").string() + ": Permission denied\n");
    fs::remove_all(root);
}

class QvctlMedia : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qvctl-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
        // The user's home, which the live session never touches; set before any thread starts.
        fs::create_directories(dir_ / "home");
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        ::setenv("HOME", (dir_ / "home").c_str(), 1);
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        ::setenv("XDG_CONFIG_HOME", (dir_ / "home/.config").c_str(), 1);
        ASSERT_TRUE(sim_.Start("127.0.0.1", 0)) << sim_.error();
        sim_.instrument().KeepServedScreens(2000);
        target_ = "127.0.0.1:" + std::to_string(sim_.port());
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Out(const std::string& name) const { return dir_ / "out" / name; }
    std::vector<std::string> OutFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / "out")) {
            names.push_back(e.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    int Served() { return static_cast<int>(sim_.instrument().ServedScreens().size()); }
    // The longest time a frame was held.
    static std::int64_t LongestHold(const VideoFacts& v) {
        std::int64_t longest = 0;
        for (std::size_t i = 1; i < v.packetMs.size(); ++i) {
            longest = std::max(longest, v.packetMs[i] - v.packetMs[i - 1]);
        }
        return longest;
    }

    fs::path dir_;
    sim::SimServer sim_;
    std::string target_;
};

// Five seconds at the Fast rate: the MKV holds the screens the instrument sent, in order and
// byte for byte, and lasts five seconds (an MP4's frames are checked at SIGTERM).
TEST_F(QvctlMedia, RecordsFiveSecondsFastFromTheSimulator) {
    Child mkv(dir_, {"record", target_, Out("a.mkv"), "--seconds", "5", "--rate", "fast"});
    ASSERT_EQ(mkv.Wait(), 0) << mkv.Err();
    EXPECT_LT(mkv.took(), 9s);
    EXPECT_EQ(mkv.Err(), "") << "quiet when not on a terminal";
    const VideoFacts v = ProbeVideo(Out("a.mkv"));
    EXPECT_EQ(v.codec, "mjpeg");
    EXPECT_NEAR(v.duration, 5.0, 0.0015);
    // Fast: far more than Normal's two a second.
    EXPECT_GT(v.frames, 30);
    EXPECT_NE(mkv.Out().find(Out("a.mkv") + ": " + std::to_string(v.frames) + " frames, 5.0 s"),
              std::string::npos)
        << mkv.Out();
    const auto served = sim_.instrument().ServedScreens();
    const auto copied = ExtractFrames(Out("a.mkv"), dir_ / "copied");
    ASSERT_EQ(copied.size(), static_cast<std::size_t>(v.frames));
    ASSERT_LE(copied.size(), served.size());
    for (std::size_t i = 0; i < copied.size(); ++i) {
        ASSERT_TRUE(copied[i] == std::string(served[i].begin(), served[i].end())) << "frame " << i;
    }

    EXPECT_EQ(OutFiles(), std::vector<std::string>{"a.mkv"});
    EXPECT_TRUE(fs::is_empty(dir_ / "home")) << "nothing written in the user's home";
}

// The instrument goes away in the middle and comes back: the link heals by itself (its first
// retry waits a second) and the frame before the gap is held through it.
TEST_F(QvctlMedia, ALinkCutInTheMiddleHealsAndTheGapIsAHeldFrame) {
    Child rec(dir_, {"record", target_, Out("c.mkv"), "--seconds", "6", "--rate", "fast"});
    ASSERT_TRUE(WaitFor([&] { return Served() >= 10; }, 10s));
    const std::uint16_t port = sim_.port();
    sim_.Stop();
    ASSERT_TRUE(sim_.Start("127.0.0.1", port)) << sim_.error();
    ASSERT_EQ(rec.Wait(), 0) << rec.Err();
    EXPECT_NE(rec.Out().find("link lost 1 time"), std::string::npos) << rec.Out();
    EXPECT_EQ(sim_.connections(), 2);
    const VideoFacts v = ProbeVideo(Out("c.mkv"));
    EXPECT_NEAR(v.duration, 6.0, 0.0015);
    EXPECT_GE(LongestHold(v), 900) << "the gap";
    EXPECT_GT(v.frames, 20);
}

// SIGTERM: the file is finished and plays, within two seconds; before any screen came,
// nothing is written and that is a failure.
TEST_F(QvctlMedia, SigtermEndsWithAPlayableFileWithinTwoSeconds) {
    Child rec(dir_, {"record", target_, Out("d.mp4"), "--rate", "fast"});
    // The screen on its way when the signal comes may not be written.
    ASSERT_TRUE(WaitFor([&] { return Served() >= 11; }, 10s));
    const auto at = Clock::now();
    rec.Signal(SIGTERM);
    ASSERT_EQ(rec.Wait(), 0) << rec.Err();
    EXPECT_LT(Clock::now() - at, 2s);
    const VideoFacts v = ProbeVideo(Out("d.mp4"));
    EXPECT_EQ(v.codec, "h264");
    EXPECT_GE(v.frames, 10);
    EXPECT_NE(rec.Out().find(": " + std::to_string(v.frames) + " frames"), std::string::npos)
        << rec.Out();

    sim_.instrument().SetFaults({.silent = true});
    Child none(dir_, {"record", target_, Out("e.mkv")});
    ASSERT_TRUE(WaitFor(
        [&] { return !sim_.instrument().Requests().empty() && sim_.connections() == 2; }, 10s));
    none.Signal(SIGTERM);
    EXPECT_EQ(none.Wait(2s), 1);
    EXPECT_NE(
        none.Err().find("no screen came from 127.0.0.1; " + Out("e.mkv") + " was not written"),
        std::string::npos)
        << none.Err();
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"d.mp4"});
}

TEST_F(QvctlMedia, RecordRefusesBadArgumentsAndReportsATargetThatDoesNotAnswer) {
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"record"}, "record takes a target and an output file"},
        {{"record", target_}, "record takes a target and an output file"},
        {{"record", "300.1.1.1", Out("x.mkv")}, "bad address \"300.1.1.1\""},
        {{"record", target_, Out("x.avi")}, "must end in .mkv or .mp4"},
        {{"record", target_, Out("x.mkv"), "--seconds", "0"}, "--seconds wants a whole number"},
        {{"record", target_, Out("x.mkv"), "--seconds", "604801"}, "from 1 to 604800"},
        {{"record", target_, Out("x.mkv"), "--seconds", "1.5"}, "--seconds wants"},
        {{"record", target_, Out("x.mkv"), "--seconds"}, "--seconds wants"},
        {{"record", target_, Out("x.mkv"), "--rate", "ludicrous"}, "--rate wants normal"},
        {{"record", target_, Out("x.mkv"), "--loud"}, "unknown option --loud"},
    };
    for (const auto& [args, message] : bad) {
        Child run(dir_, args);
        EXPECT_EQ(run.Wait(), 2) << args.back();
        EXPECT_NE(run.Err().find(message), std::string::npos) << run.Err();
        EXPECT_NE(run.Err().find("usage: qvctl record"), std::string::npos) << run.Err();
    }
    WriteBytes(Out("y.mkv"), "keep me");
    Child exists(dir_, {"record", target_, Out("y.mkv"), "--seconds", "1"});
    EXPECT_EQ(exists.Wait(), 1);
    EXPECT_NE(exists.Err().find(Out("y.mkv") + " exists; --force replaces it"), std::string::npos);
    EXPECT_EQ(ReadAll(Out("y.mkv")), "keep me");
    // One second at the edge, and --force replacing the file.
    Child force(dir_, {"record", target_, Out("y.mkv"), "--seconds", "1", "--force"});
    ASSERT_EQ(force.Wait(), 0) << force.Err();
    EXPECT_NEAR(ProbeVideo(Out("y.mkv")).duration, 1.0, 0.0015);

    const std::uint16_t port = sim_.port();
    sim_.Stop();
    Child refused(dir_, {"record", "127.0.0.1:" + std::to_string(port), Out("z.mkv")});
    EXPECT_EQ(refused.Wait(10s), 1);
    EXPECT_NE(refused.Err().find("cannot connect to 127.0.0.1 port " + std::to_string(port)),
              std::string::npos)
        << refused.Err();
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"y.mkv"});
}

// Export from the command line: what it says and returns, a real file-size limit (the
// partial file removed, the message says why), and progress only on a terminal.
TEST_F(QvctlMedia, ExportExitCodesMessagesAFullDiskAndProgressOnATerminal) {
    const fs::path rec = dir_ / "rec_20261207_101500";
    fs::create_directories(rec);
    const auto frames = Screens(30);
    for (int i = 0; i < 30; ++i) {
        WriteBytes(rec / RecordedName(i + 1, 36'900'000 + 500LL * i),
                   frames[static_cast<std::size_t>(i)]);
    }
    WriteBytes(rec / "00000031_101515_000.jpg", frames[0].substr(0, 1000));
    Child ok(dir_, {"export", rec, Out("a.mkv")});
    EXPECT_EQ(ok.Wait(), 0) << ok.Err();
    EXPECT_EQ(ok.Out(), Out("a.mkv") + ": 30 frames, 15.0 s, " +
                            std::to_string(fs::file_size(Out("a.mkv")) / 1024 / 1024) + "." +
                            std::to_string(fs::file_size(Out("a.mkv")) * 10 / 1024 / 1024 % 10) +
                            " MB\n");
    EXPECT_EQ(ok.Err(),
              "qvctl: skipped 1 file that is not a whole JPEG screen (first: "
              "00000031_101515_000.jpg: cut short)\n");

    const std::pair<std::vector<std::string>, int> runs[] = {
        {{"export", rec, Out("a.mkv")}, 1},            // exists
        {{"export", rec, Out("a.avi")}, 2},            // no video name
        {{"export", rec}, 2},                          // no output
        {{"export", rec, Out("b.mkv"), "extra"}, 2},   // too much
        {{"export", rec, Out("b.mkv"), "--fast"}, 2},  // no such option
        {{"export", dir_ / "none", Out("b.mkv")}, 1},  // no folder
    };
    for (const auto& [args, status] : runs) {
        Child run(dir_, args);
        EXPECT_EQ(run.Wait(), status) << args.back() << ": " << run.Err();
        EXPECT_NE(run.Err(), "");
    }
    Child force(dir_, {"export", rec, Out("a.mkv"), "--force"});
    EXPECT_EQ(force.Wait(), 0);

    Child full(dir_, {"export", rec, Out("c.mkv")}, 500'000);
    EXPECT_EQ(full.Wait(), 1);
    EXPECT_NE(full.Err().find("cannot write " + Out("c.mkv") +
                              ": File too large (the disk is full); the partial file was removed"),
              std::string::npos)
        << full.Err();
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"a.mkv"});

    // On a terminal (script gives it one): the progress line, frames of all.
    const Ran tty = Shell(
        "script -qec " +
            Quote(std::string(QVCTL_PATH) + " export " + Quote(rec) + " " + Quote(Out("d.mp4"))) +
            " /dev/null",
        true);
    EXPECT_EQ(tty.status, 0) << tty.out;
    EXPECT_NE(tty.out.find("\rframes 31/31 \xC2\xB7 14.5 s"), std::string::npos) << tty.out;
    EXPECT_NEAR(ProbeVideo(Out("d.mp4")).duration, 15.0, 0.5);
}

}  // namespace
}  // namespace qv::test
