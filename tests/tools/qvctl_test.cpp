// qvctl, the program itself, run as a child against one simulator: addresses as people type
// them; each command line's exit status and what it says; peers that misbehave (it ends within
// the answer deadline and never saves a screen joined wrongly); what it loads for each command
// and how it finds its helpers; export and record over loopback (a link cut in the middle,
// SIGTERM), with real file-size limits, on and off a terminal, the files checked with ffprobe
// and ffmpeg.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/CDevComm.h"
#include "sim/SimServer.h"
#include "tests/TestFiles.h"
#include "tests/link/SimPeer.h"
#include "tests/media/MediaProbe.h"
#include "tools/qvctl/Serve.h"
#include "tools/qvctl/Target.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// A program as a child of its own, run in dir's output folder: its output in files, a
// file-size limit when asked.
class Child {
  public:
    Child(const fs::path& dir, std::vector<std::string> args, rlim_t fileLimit)
        : out_(dir / "stdout"), err_(dir / "stderr") {
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const rlimit cap{fileLimit, fileLimit};
            if (::setrlimit(RLIMIT_FSIZE, &cap) == 0 && ::chdir((dir / "out").c_str()) == 0 &&
                std::freopen(out_.c_str(), "w", stdout) != nullptr &&
                std::freopen(err_.c_str(), "w", stderr) != nullptr) {
                ::execv(argv[0], argv.data());
            }
            ::_exit(127);
        }
    }
    ~Child() {
        if (status_ < 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void Signal(int signal) { ::kill(pid_, signal); }
    pid_t pid() const { return pid_; }
    // Waits up to timeout; the exit status, or -1 when it was still running (then killed).
    int Wait(std::chrono::milliseconds timeout = 30s) {
        const auto reaped = [this] {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) != pid_) {
                return false;
            }
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        };
        if (status_ < 0 && !WaitFor(reaped, timeout)) {
            ::kill(pid_, SIGKILL);
            WaitFor(reaped, 30s);
            status_ = -1;
        }
        return status_;
    }
    std::string Out() const { return ReadAll(out_); }
    std::string Err() const { return ReadAll(err_); }

  private:
    fs::path out_;
    fs::path err_;
    pid_t pid_ = -1;
    int status_ = -1;
};

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

TEST(Addresses, TargetsAsPeopleTypeThemAndListenOnIpLiteralsOnly) {
    // clang-format off
    const std::tuple<const char*, std::string, int, bool> targets[] = {
        {"192.168.1.20", "192.168.1.20", 66, false}, {"192.168.1.20:6600", "192.168.1.20", 6600, false},
        {"analyser.local", "analyser.local", 66, false}, {"::1", "::1", 66, true}, {"[::1]:6600", "::1", 6600, true},
        {"[::1]", "::1", 66, true}, {"fe80::1%lo", "fe80::1%lo", 66, true}, {"2001:db8::7", "2001:db8::7", 66, true}};
    const std::tuple<const char*, std::string, int> listens[] = {
        {"127.0.0.1:8066", "127.0.0.1", 8066}, {"127.0.0.1", "127.0.0.1", 8066}, {"0.0.0.0:0", "0.0.0.0", 0},
        {"[::1]:65535", "::1", 65535}, {"[::]:8066", "::", 8066}, {"::1", "::1", 8066}};
    // clang-format on
    for (const auto& [text, host, port, ipv6] : targets) {
        qvctl::Target t;
        ASSERT_TRUE(qvctl::ParseTarget(text, t)) << text;
        EXPECT_EQ(std::tie(t.host, t.port, t.ipv6), std::tie(host, port, ipv6)) << text;
    }
    for (const char* bad :
         {"300.1.2.3", "1.2.3", "1.2.3.4:0", "1.2.3.4:70000", "[::1", "[::1]x", "::g", "a b", ""}) {
        qvctl::Target t;
        EXPECT_FALSE(qvctl::ParseTarget(bad, t)) << bad;
    }
    std::string address;
    int port = -1;
    for (const auto& [text, want, wantPort] : listens) {
        ASSERT_TRUE(qvctl::ParseListen(text, address, port)) << text;
        EXPECT_EQ(std::tie(address, port), std::tie(want, wantPort)) << text;
    }
    for (const char* bad : {"127.0.0.1:65536", "[::1]:65536", "127.0.0.1:", "[::1", "[::1]8066",
                            "example.com:80", ""}) {
        EXPECT_FALSE(qvctl::ParseListen(bad, address, port)) << bad;
    }
}

// One simulator on loopback, a scratch folder, and a home of the test's own which the live
// session must never touch (set before any thread starts).
class Qvctl : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qvctl-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
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

    struct Ran {
        int status;
        std::string out;
        std::string err;
    };
    // qvctl (or another copy of it) started with the words of line; @sim is the simulator.
    Child Start(const std::string& line, rlim_t fileLimit = RLIM_INFINITY,
                const std::string& program = QVCTL_PATH) {
        std::vector<std::string> args{program};
        std::istringstream words(line);
        for (std::string w; words >> w;) {
            args.push_back(w == "@sim" ? target_ : w);
        }
        return {dir_, args, fileLimit};
    }
    // The same, run to its end.
    Ran Run(const std::string& line, const std::string& program = QVCTL_PATH) {
        Child run = Start(line, RLIM_INFINITY, program);
        const int status = run.Wait();
        return {status, run.Out(), run.Err()};
    }
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

    fs::path dir_;
    sim::SimServer sim_;
    std::string target_;
};

// Each command line as people type it, right or wrong, run in the output folder: the exit
// status, and all that goes to the standard output and the standard error. A bad address is a
// usage error, not a failure to connect; a file that is there is kept unless --force replaces it.
TEST_F(Qvctl, CommandLinesTheirStatusAndAllTheySay) {
    const fs::path rec = dir_ / "rec";
    fs::create_directories(rec);
    const auto frames = Screens(30);
    for (int i = 0; i < 30; ++i) {
        WriteBytes(rec / RecordedName(i + 1, 36'900'000 + 500LL * i),
                   frames[static_cast<std::size_t>(i)]);
    }
    WriteBytes(rec / "00000031_101515_000.jpg", frames[0].substr(0, 1000));
    WriteBytes(Out("y.mkv"), "keep me");
    WriteBytes(Out("z.mkv"), "keep me");
    sim::SimServer gone;
    ASSERT_TRUE(gone.Start("127.0.0.1", 0));
    const std::string port = std::to_string(gone.port());
    const std::string goneTarget = "127.0.0.1:" + port;
    gone.Stop();
    const auto recordErr = [](const std::string& message) {
        return "qvctl: " + message +
               "\nusage: qvctl record TARGET OUT.mkv|OUT.mp4 [--seconds N] [--rate "
               "normal|responsive|fast] [--force] [--ipv6]\n";
    };
    const auto exportErr = [](const std::string& message) {
        return "qvctl: " + message + "\nusage: qvctl export FOLDER OUT.mkv|OUT.mp4 [--force]\n";
    };
    const std::string seconds = "--seconds wants a whole number of seconds from 1 to 604800";
    const std::string skipped =
        "qvctl: skipped 1 file that is not a whole JPEG screen (first: "
        "00000031_101515_000.jpg: cut short)\n";
    const struct {
        std::string line;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"300.1.2.3 info", 2, "", "qvctl: bad address \"300.1.2.3\"\n"},
        {"[::1 info", 2, "", "qvctl: bad address \"[::1\"\n"},
        {"@sim info", 0, "QV392B\n", ""},
        {"record", 2, "", recordErr("record takes a target and an output file")},
        {"record @sim", 2, "", recordErr("record takes a target and an output file")},
        {"record 300.1.1.1 x.mkv", 2, "", recordErr("bad address \"300.1.1.1\"")},
        {"record @sim x.avi", 2, "", recordErr("\"x.avi\" must end in .mkv or .mp4")},
        {"record @sim x.mkv --seconds 0", 2, "", recordErr(seconds)},
        {"record @sim x.mkv --seconds 604801", 2, "", recordErr(seconds)},
        {"record @sim x.mkv --seconds 1.5", 2, "", recordErr(seconds)},
        {"record @sim x.mkv --seconds", 2, "", recordErr(seconds)},
        {"record @sim x.mkv --rate fastest", 2, "",
         recordErr("--rate wants normal, responsive or fast")},
        {"record @sim x.mkv --loud", 2, "", recordErr("unknown option --loud")},
        {"record @sim y.mkv --seconds 1", 1, "", "qvctl: y.mkv exists; --force replaces it\n"},
        {"record " + goneTarget + " x.mkv", 1, "",
         "qvctl: cannot connect to 127.0.0.1 port " + port + "\n"},
        {"export ../rec z.mkv", 1, "", "qvctl: z.mkv exists; --force replaces it\n"},
        {"export ../rec a.avi", 2, "", exportErr("\"a.avi\" must end in .mkv or .mp4")},
        {"export ../rec", 2, "", exportErr("export takes a folder and an output file")},
        {"export ../rec x.mkv extra", 2, "", exportErr("export takes a folder and an output file")},
        {"export ../rec x.mkv --fast", 2, "", exportErr("unknown option --fast")},
        {"export ../none x.mkv", 1, "", "qvctl: cannot read ../none: No such file or directory\n"},
        {"export ../rec a.mkv", 0, "a.mkv: 30 frames, 15.0 s, 1.7 MB\n", skipped},
        {"export ../rec z.mkv --force", 0, "z.mkv: 30 frames, 15.0 s, 1.7 MB\n", skipped},
    };
    for (const auto& c : cases) {
        const Ran r = Run(c.line);
        EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(c.status, c.out, c.err)) << c.line;
    }
    EXPECT_EQ(ReadAll(Out("y.mkv")), "keep me");
    // One second at the edge, and --force replacing the file.
    const Ran r = Run("record @sim y.mkv --seconds 1 --force");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("y.mkv: "), std::string::npos) << r.out;
    EXPECT_NEAR(ProbeVideo(Out("y.mkv")).duration, 1.0, 0.0015);
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.mkv", "y.mkv", "z.mkv"}));

    // Out of room (a real file-size limit): the partial file removed, the message says why.
    Child full = Start("export ../rec c.mkv", 500'000);
    EXPECT_EQ(full.Wait(), 1);
    EXPECT_EQ(full.Err(),
              "qvctl: cannot write c.mkv: File too large (the disk is full); the partial file "
              "was removed\n");
    EXPECT_FALSE(fs::exists(Out("c.mkv")));
    // On a terminal (script gives it one): the progress line, frames of all.
    const auto tty = Shell(
        "cd " + Quote(Out("")) + " && script -qec '" QVCTL_PATH " export ../rec d.mp4' /dev/null",
        true);
    EXPECT_EQ(tty.status, 0) << tty.out;
    EXPECT_NE(tty.out.find("\rframes 31/31 \xC2\xB7 14.5 s"), std::string::npos) << tty.out;
    EXPECT_NEAR(ProbeVideo(Out("d.mp4")).duration, 15.0, 0.5);
}

// Screenshots. The file is made as any tool makes a file: 0666 less the umask; one that is
// there keeps its mode, never more. From peers that misbehave: an answer begun again at index
// 0 is saved without its old part; whole frames of an answer that never ends, each one starting
// it again, and the program gives up within the answer deadline (the engine's deadlines are
// tested there), says so and saves nothing. An instrument on the IPv6 loopback answers.
TEST_F(Qvctl, ScreenshotsTheirModeAndFromPeersThatMisbehave) {
    struct Case {
        mode_t umask;
        mode_t before;  // 0: no file yet
        mode_t after;
    };
    const Case cases[] = {{0, 0, 0666}, {077, 0, 0600}, {022, 0600, 0600}, {0, 0755, 0644}};
    int i = 0;
    for (const Case& c : cases) {
        const std::string file = Out("shot" + std::to_string(++i) + ".jpg");
        if (c.before != 0) {
            std::ofstream(file) << "old";
            ASSERT_EQ(::chmod(file.c_str(), c.before), 0);
        }
        const mode_t old = ::umask(c.umask);
        const Ran r = Run("@sim screenshot " + file);
        ::umask(old);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(FileMode(file), S_IFREG | c.after)
            << std::oct << "umask " << c.umask << " before " << c.before;
        const auto served = sim_.instrument().ServedScreens();
        ASSERT_EQ(served.size(), static_cast<std::size_t>(i));
        EXPECT_TRUE(ReadAll(file) == std::string(served.back().begin(), served.back().end()));
    }

    const RawPeer restart(Frames(2, {{0, "STALE-"}, {0, "FRESH-"}, {1, "SCREEN"}}), false);
    Ran r = Run(restart.target() + " screenshot restart.jpg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(Out("restart.jpg")), "FRESH-SCREEN");

    const RawPeer flood(Frames(255, {{0, std::string(100, 0x7E)}}), true);
    const auto start = Clock::now();
    r = Run(flood.target() + " screenshot flood.jpg");
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("STR_ERROR_TIMEOUT"), std::string::npos) << r.err;
    EXPECT_GE(took, CDevComm::kAnswerDeadline - 200ms);
    EXPECT_LE(took, CDevComm::kAnswerDeadline + 1500ms);
    EXPECT_FALSE(fs::exists(Out("flood.jpg")));

    sim::SimServer sim6;
    if (!sim6.Start("::1", 0)) {
        GTEST_SKIP() << "no IPv6 loopback: " << sim6.error();
    }
    r = Run("[::1]:" + std::to_string(sim6.port()) + " info");
    EXPECT_EQ(std::tie(r.status, r.out), std::make_tuple(0, "QV392B\n"));
}

// The link commands start without Qt or FFmpeg; serve and record, through the same front door
// and in the same process, map what they need and only that. Each is looked at while it waits
// on an instrument that took its request and never answers.
TEST_F(Qvctl, EachCommandMapsOnlyTheLibrariesItNeeds) {
    sim_.instrument().SetFaults({.silent = true});
    const std::pair<std::string, std::string> cases[] = {
        {"@sim info", ""},
        {"@sim watch 5", ""},
        {"record @sim out.mkv", "libavcodec libavformat libswscale libQt6Core"},
        {"serve @sim --listen 127.0.0.1:0",
         "libQt6Core libQt6Network libQt6HttpServer libQt6WebSockets"},
    };
    for (const auto& [line, mapped] : cases) {
        SCOPED_TRACE(line);
        const std::size_t asked = sim_.instrument().Requests().size();
        Child run = Start(line);
        ASSERT_TRUE(WaitFor([&] { return sim_.instrument().Requests().size() > asked; }, 20s))
            << "no request reached the instrument";
        const std::string maps = ReadAll("/proc/" + std::to_string(run.pid()) + "/maps");
        for (const std::string lib : {"libavcodec", "libavformat", "libswscale", "libQt6Core",
                                      "libQt6Network", "libQt6HttpServer", "libQt6WebSockets"}) {
            EXPECT_EQ(maps.find("/" + lib + ".so") != std::string::npos,
                      mapped.find(lib) != std::string::npos)
                << lib;
        }
    }
}

// qvctl finds a helper beside itself (a build tree) before the private folder of an installed
// tree, and hands it its arguments; the output and exit status are the helper's own. A missing
// helper is named with where it was looked for; one that cannot run is not passed over.
TEST_F(Qvctl, HelpersAreFoundBesideItOrInstalledAndAMissingOneIsNamed) {
    const fs::path bin = dir_ / "bin";
    const fs::path lib = dir_ / "lib/qvremote";
    ASSERT_TRUE(fs::create_directories(bin) && fs::create_directories(lib));
    const std::string qvctl = bin / "qvctl";
    fs::copy_file(QVCTL_PATH, qvctl);
    fs::permissions(qvctl, fs::perms(0755));
    const auto missing = [&](const std::string& helper) {
        return "needs the program " + helper + ", which is neither in " + bin.string() +
               " nor in " + lib.string() + " (reinstall qvremote)\n";
    };
    const std::string denied =
        "qvctl: cannot run " + (bin / "qvctl-share").string() + ": Permission denied\n";
    EXPECT_EQ(Run("@sim info", qvctl).out, "QV392B\n") << "link commands need no helper";
    // Each step first puts a helper in place, a script that prints who it is and its arguments
    // and exits 7; or, when it is no one, takes away its right to run.
    const struct {
        std::string helper;
        std::string who;
        std::string line;
        int status;
        std::string err;
    } steps[] = {
        {"", "", "serve 127.0.0.1 --control", 1, "qvctl: serve " + missing("qvctl-share")},
        {"", "", "export rec_1 out.mkv", 1, "qvctl: export " + missing("qvctl-media")},
        {"", "", "record 127.0.0.1 out.mp4", 1, "qvctl: record " + missing("qvctl-media")},
        {"lib/qvremote/qvctl-share", "installed", "serve 127.0.0.1 --control", 7, ""},
        {"lib/qvremote/qvctl-media", "installed", "export rec_1 out.mkv --force", 7, ""},
        {"bin/qvctl-share", "beside", "serve 127.0.0.1", 7, ""},
        {"bin/qvctl-share", "", "serve 127.0.0.1", 1, denied},
    };
    for (const auto& s : steps) {
        if (!s.helper.empty() && s.who.empty()) {
            fs::permissions(dir_ / s.helper, fs::perms(0644));
        } else if (!s.helper.empty()) {
            std::ofstream(dir_ / s.helper) << "#!/bin/sh\necho " << s.who << " \"$@\"\nexit 7\n";
            fs::permissions(dir_ / s.helper, fs::perms(0755));
        }
        const Ran r = Run(s.line, qvctl);
        const std::string out = s.status == 7 ? s.who + " " + s.line + "\n" : "";
        EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(s.status, out, s.err)) << s.line;
    }
}

// Six seconds at the Fast rate while the instrument goes away in the middle and comes back:
// the link heals by itself (its first retry waits a second) and the frame before the gap is
// held through it. The MKV holds the screens the instrument sent, in order and byte for byte,
// and lasts six seconds. Then an MP4 ended by SIGTERM, and SIGTERM before any screen came.
TEST_F(Qvctl, RecordsThroughALinkCutAndUntilSigterm) {
    const auto start = Clock::now();
    Child rec = Start("record @sim a.mkv --seconds 6 --rate fast");
    ASSERT_TRUE(WaitFor([&] { return Served() >= 10; }, 10s));
    const std::uint16_t port = sim_.port();
    sim_.Stop();
    const auto cut = static_cast<std::size_t>(Served());
    ASSERT_TRUE(sim_.Start("127.0.0.1", port)) << sim_.error();
    ASSERT_EQ(rec.Wait(), 0) << rec.Err();
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(rec.Err(), "") << "quiet when not on a terminal";
    EXPECT_EQ(sim_.connections(), 2);
    const VideoFacts v = ProbeVideo(Out("a.mkv"));
    EXPECT_EQ(v.codec, "mjpeg");
    EXPECT_NEAR(v.duration, 6.0, 0.0015);
    EXPECT_GT(v.frames, 30) << "Fast: far more than Normal's two a second";
    EXPECT_NE(rec.Out().find("a.mkv: " + std::to_string(v.frames) + " frames, 6.0 s"),
              std::string::npos)
        << rec.Out();
    EXPECT_NE(rec.Out().find("link lost 1 time"), std::string::npos) << rec.Out();
    std::int64_t longest = 0;  // the longest time a frame was held
    for (std::size_t i = 1; i < v.packetMs.size(); ++i) {
        longest = std::max(longest, v.packetMs[i] - v.packetMs[i - 1]);
    }
    EXPECT_GE(longest, 900) << "the gap";
    // The screens served before the cut (but the one on its way) and after it, in order.
    const auto served = sim_.instrument().ServedScreens();
    const auto copied = ExtractFrames(Out("a.mkv"), dir_ / "copied");
    const auto screen = [&](std::size_t i) {
        return std::string(served[i].begin(), served[i].end());
    };
    std::size_t before = 0;
    while (before < cut && before < copied.size() && copied[before] == screen(before)) {
        ++before;
    }
    EXPECT_GE(before, cut - 1);
    ASSERT_EQ(copied.size(), static_cast<std::size_t>(v.frames));
    ASSERT_LE(copied.size() - before, served.size() - cut);
    for (std::size_t i = before; i < copied.size(); ++i) {
        ASSERT_TRUE(copied[i] == screen(cut + i - before)) << "frame " << i;
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "home")) << "nothing written in the user's home";

    // SIGTERM: the file is finished and plays, within two seconds; before any screen came,
    // nothing is written and that is a failure.
    const auto more = static_cast<int>(served.size()) + 11;
    Child mp4 = Start("record @sim d.mp4 --rate fast");
    // The screen on its way when the signal comes may not be written.
    ASSERT_TRUE(WaitFor([&] { return Served() >= more; }, 10s));
    const auto at = Clock::now();
    mp4.Signal(SIGTERM);
    ASSERT_EQ(mp4.Wait(), 0) << mp4.Err();
    EXPECT_LT(Clock::now() - at, 2s);
    const VideoFacts h264 = ProbeVideo(Out("d.mp4"));
    EXPECT_EQ(h264.codec, "h264");
    EXPECT_GE(h264.frames, 10);
    EXPECT_NE(mp4.Out().find("d.mp4: " + std::to_string(h264.frames) + " frames"),
              std::string::npos)
        << mp4.Out();

    sim_.instrument().SetFaults({.silent = true});
    const std::size_t asked = sim_.instrument().Requests().size();
    Child none = Start("record @sim e.mkv");
    ASSERT_TRUE(WaitFor([&] { return sim_.instrument().Requests().size() > asked; }, 10s));
    none.Signal(SIGTERM);
    EXPECT_EQ(none.Wait(2s), 1);
    EXPECT_NE(none.Err().find("no screen came from 127.0.0.1; e.mkv was not written"),
              std::string::npos)
        << none.Err();
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.mkv", "d.mp4"}));
}

}  // namespace
}  // namespace qv::test
