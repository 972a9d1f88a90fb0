// qvctl export and qvctl record, the program itself: against the simulator over loopback
// (a link cut in the middle, SIGTERM), with real file-size limits, on and off a terminal;
// the files checked with ffprobe and ffmpeg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <thread>

#include "sim/SimServer.h"
#include "tests/TestFiles.h"
#include "tests/media/MediaProbe.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

class QvctlMedia : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qvctl-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
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
// byte for byte, and lasts five seconds; the MP4 as many frames as it reports, as long.
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

    Child mp4(dir_, {"record", target_, Out("b.mp4"), "--seconds", "5", "--rate", "fast"});
    ASSERT_EQ(mp4.Wait(), 0) << mp4.Err();
    const VideoFacts w = ProbeVideo(Out("b.mp4"));
    EXPECT_EQ(w.codec, "h264");
    EXPECT_NE(mp4.Out().find(": " + std::to_string(w.frames) + " frames, 5.0 s"), std::string::npos)
        << mp4.Out() << " against " << w.frames;
    const double frame = 5.0 / w.frames;
    EXPECT_NEAR(w.duration, 5.0, frame);
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.mkv", "b.mp4"}));
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
