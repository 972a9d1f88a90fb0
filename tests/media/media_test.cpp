// Recordings to video files, checked with FFmpeg's own tools on the files written: the
// Matroska file holds the recorded JPEG files byte for byte at their times, the MP4 is H.264
// with every frame held until the next; bad files are skipped, and nothing is ever left
// half-written or written through a planted link. Live frames are written as they come.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "media/Exporter.h"
#include "media/LiveRecorder.h"
#include "media/Recording.h"
#include "tests/TestFiles.h"
#include "tests/media/MediaProbe.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using media::ExportOptions;
using media::ExportRecording;
using media::ExportResult;

constexpr std::int64_t kHour = 3600 * 1000;

TEST(RecordingNames, TimesComeFromTheNamesAndRunForwardPastMidnight) {
    const std::pair<const char*, std::optional<std::int64_t>> names[] = {
        {"00000001_101530_250.jpg", (10 * 60 + 15) * 60000LL + 30250},  // recorded frame
        {"20261207_000000_000.JPG", 0},                                 // frame file, any case
        {"QV392B_20261207_235959.jpg", 86399000},                       // saved screen
        {"00000001_241530_250.jpg", std::nullopt},                      // no such hour
        {"00000001_106030_250.jpg", std::nullopt},                      // no such minute
        {"00000001_101530_25.jpg", std::nullopt},
        {"QV392B_20261207_101530_2.jpg", std::nullopt},  // a second save in one second
        {"00000001_101530_250.png", std::nullopt},
        {"_101530.jpg", 36930000},
        {".jpg", std::nullopt},
    };
    for (const auto& [name, ms] : names) {
        EXPECT_EQ(media::TimeOfDayOfName(name), ms) << name;
    }
    // 23:59:59.500, then past midnight, a clock set back by a second, an untimed frame, the
    // same millisecond twice.
    const std::vector<std::optional<std::int64_t>> tods = {
        24 * kHour - 500, 0, 1000, std::nullopt, 500, 2000, 2000};
    const std::vector<std::int64_t> want = {0, 500, 1500, 2000, 2001, 2500, 2501};
    EXPECT_EQ(media::FrameTimes(tods), want);
    // Untimed frames first: the first timed one stands where it came.
    EXPECT_EQ(media::FrameTimes({std::nullopt, std::nullopt, 10 * kHour, 10 * kHour + 40}),
              (std::vector<std::int64_t>{0, 500, 1000, 1040}));
}

class Export : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("export-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        rec_ = root_ / "rec_20261207_235958";
        out_ = root_ / "out";
        fs::create_directories(rec_);
        fs::create_directories(out_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string Out(const std::string& name) const { return out_ / name; }
    // Everything in the output folder: nothing but what the test expects may be left.
    std::vector<std::string> OutFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out_)) {
            names.push_back(e.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    ExportResult Run(const std::string& out, bool replace = false) const {
        ExportOptions options;
        options.replace = replace;
        return ExportRecording(rec_, out, options);
    }

    fs::path root_;
    fs::path rec_;
    fs::path out_;
};

// The export in a child whose files may grow to limit bytes only: ok, disk full, the error.
std::string ExportWithFileLimit(const std::string& folder, const std::string& out, rlim_t limit) {
    return InChild([&] {
               std::signal(SIGXFSZ, SIG_IGN);
               const rlimit cap{limit, limit};
               ::setrlimit(RLIMIT_FSIZE, &cap);
               const ExportResult r = ExportRecording(folder, out, {});
               return std::string(r.ok() ? "1" : "0") + (r.diskFull ? "1" : "0") + r.error;
           })
        .value_or("00child died");
}

// One recording exported every way, checked along the way: while it holds nothing and then
// bad files only; then 24 screens from 23:59:58 across midnight at uneven steps with a 4 s
// gap, the first of an odd size, two of another size among them, two replaced by bad files;
// and its screens recorded live. Nothing is ever left half-written or written through a
// planted link.
TEST_F(Export, OneRecordingExportedEveryWay) {
    const std::pair<std::string, std::string> nothing[] = {
        {Out("a.mkv"), rec_.string() + " holds no recorded frames (*.jpg)"},
        {Out("a.avi"), Out("a.avi") + ": the name must end in .mkv or .mp4"},
    };
    for (const auto& [out, error] : nothing) {
        const ExportResult r = Run(out);
        EXPECT_EQ(r.error, error);
        EXPECT_FALSE(r.ok());
    }
    EXPECT_NE(ExportRecording(root_ / "missing", Out("a.mkv"), {})
                  .error.find("No such file or directory"),
              std::string::npos);

    std::vector<std::int64_t> at;  // time of day of each screen
    std::vector<std::string> names;
    const std::int64_t steps[] = {500, 40, 501, 4000, 120};
    for (int i = 0; i < 24; ++i) {
        at.push_back(i == 0 ? 24 * kHour - 2000 : at.back() + steps[(i - 1) % 5]);
        names.push_back(RecordedName(i + 1, at.back()));
    }
    auto screens = Screens(20, 801, 601);
    const auto other = Screens(3, 640, 480);
    screens.insert(screens.begin() + 10, other.begin(), other.begin() + 2);
    WriteBytes(rec_ / names[1], "GIF89a this is no JPEG");
    WriteBytes(rec_ / names[3], other[2].substr(0, other[2].size() / 2));
    WriteBytes(rec_ / "00000004_empty.jpg", "");
    fs::create_directory(rec_ / "00000003_a.jpg");  // no frame at all
    for (const char* out : {"a.mkv", "a.mp4"}) {
        const ExportResult r = Run(Out(out));
        EXPECT_EQ(r.error, "no frame of " + rec_.string() + " could be read (3 skipped; " +
                               names[1] + ": not a JPEG)");
        EXPECT_EQ(r.skipped, 3);
    }
    EXPECT_EQ(
        Run(root_ / "no-folder/a.mkv").error,
        "cannot create " + (root_ / "no-folder/a.mkv").string() + ": No such file or directory");
    EXPECT_TRUE(OutFiles().empty());

    std::vector<std::string> frames;  // the recorded files, in order
    std::vector<std::int64_t> want;   // their times from the first
    for (std::size_t i = 0; i < 24; ++i) {
        if (i != 1 && i != 3) {
            frames.push_back(screens[frames.size()]);
            WriteBytes(rec_ / names[i], frames.back());
            want.push_back(at[i] - at[0]);
        }
    }
    // Matroska: every recorded file byte for byte at its time, the last one shown as long as
    // the one before it (501 ms).
    ExportResult r = Run(Out("a.mkv"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(std::tie(r.frames, r.skipped, r.firstSkipped),
              std::make_tuple(22, 3, names[1] + ": not a JPEG"));
    const VideoFacts mkv = ProbeVideo(Out("a.mkv"));
    EXPECT_EQ(std::tie(mkv.codec, mkv.width, mkv.height, mkv.frames),
              std::make_tuple("mjpeg", 801, 601, 22));
    EXPECT_EQ(mkv.packetMs, want);
    EXPECT_EQ(r.durationMs, want.back() + 501);
    EXPECT_NEAR(mkv.duration * 1000, static_cast<double>(want.back() + 501), 1.5);
    EXPECT_TRUE(ExtractFrames(Out("a.mkv"), root_ / "copied") == frames);
    EXPECT_EQ(FileMode(Out("a.mkv")), S_IFREG | 0600u);

    // Live, the same screens pushed as they came make the same file: a gap is the frame before
    // it held, the file ends where asked, a frame after the end is not written; no frame means
    // no file.
    using Clock = media::LiveRecorder::Clock;
    const auto t0 = Clock::now();
    media::LiveRecorder live;
    ASSERT_TRUE(live.Open(Out("live.mkv"), false)) << live.Error();
    for (std::size_t i = 0; i <= frames.size(); ++i) {
        const std::string& f = frames[i % frames.size()];
        const std::int64_t ms = i < frames.size() ? want[i] : want.back() + 600;
        live.Push({reinterpret_cast<const std::uint8_t*>(f.data()), f.size()},
                  t0 + std::chrono::milliseconds(ms));
    }
    ASSERT_TRUE(live.Finish(t0 + std::chrono::milliseconds(want.back() + 501))) << live.Error();
    EXPECT_EQ(live.stats().frames, 22);
    const VideoFacts held = ProbeVideo(Out("live.mkv"));
    EXPECT_EQ(held.packetMs, want);
    EXPECT_NEAR(held.duration, mkv.duration, 0.0015);
    EXPECT_TRUE(ExtractFrames(Out("live.mkv"), root_ / "live") == frames);
    media::LiveRecorder empty;
    ASSERT_TRUE(empty.Open(Out("l.mp4"), false));
    EXPECT_FALSE(empty.Finish(Clock::now()));
    EXPECT_EQ(empty.Error(), "no screen came");
    EXPECT_FALSE(fs::exists(Out("l.mp4")));

    // H.264 for every player: 4:2:0, the odd size made even, the other size scaled to it, the
    // index first; as long as the Matroska file within a frame.
    r = Run(Out("a.mp4"));
    ASSERT_TRUE(r.ok()) << r.error;
    const VideoFacts mp4 = ProbeVideo(Out("a.mp4"));
    EXPECT_EQ(std::tie(mp4.codec, mp4.pixelFormat, mp4.width, mp4.height, mp4.frames),
              std::make_tuple("h264", "yuv420p", 800, 600, 22));
    EXPECT_EQ(mp4.packetMs, want);
    EXPECT_NEAR(mp4.duration, mkv.duration, 0.5);
    const std::string bytes = ReadAll(Out("a.mp4"));
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "+faststart";

    // A name that is taken is left alone unless replacing was asked for; a planted link is
    // refused, or replaced itself by a new file of the user's alone.
    const std::string victim = root_ / "victim";
    WriteBytes(victim, "not yours");
    fs::create_symlink(victim, Out("f.mp4"));
    for (const char* out : {"a.mkv", "f.mp4"}) {
        r = Run(Out(out));
        EXPECT_TRUE(r.exists && !r.ok()) << out;
    }
    EXPECT_TRUE(fs::is_symlink(Out("f.mp4")));
    EXPECT_TRUE(ReadAll(Out("a.mp4")) == bytes);
    for (const char* out : {"a.mkv", "f.mp4"}) {
        r = Run(Out(out), true);
        EXPECT_TRUE(r.ok()) << out << ": " << r.error;
        EXPECT_EQ(FileMode(Out(out)), S_IFREG | 0600u) << out;
    }
    EXPECT_EQ(ReadAll(victim), "not yours");
    EXPECT_EQ(ProbeVideo(Out("f.mp4")).frames, 22);

    // Cancelled after five of the 25 files, or out of room half-way (a real file-size limit:
    // the kernel refuses the write): the partial file is gone and the failure says the disk
    // is full. The limit that cuts the Matroska file short holds the whole MP4.
    fs::remove_all(out_);
    fs::create_directory(out_);
    for (const char* out : {"g.mkv", "g.mp4"}) {
        ExportOptions options;
        int calls = 0;
        options.progress = [&](const media::ExportProgress& p) {
            EXPECT_EQ(std::pair(p.done, p.total), std::pair(++calls, 25));
            return p.done < 5;
        };
        EXPECT_EQ(ExportRecording(rec_, Out(out), options).status, ExportResult::Status::Cancelled);
        EXPECT_EQ(calls, 5);
    }
    const std::pair<const char*, rlim_t> limits[] = {{"h.mkv", 600'000}, {"h.mp4", 60'000}};
    for (const auto& [out, limit] : limits) {
        const std::string failed = ExportWithFileLimit(rec_, Out(out), limit);
        EXPECT_EQ(failed, "01cannot write " + Out(out) + ": File too large");
    }
    EXPECT_TRUE(OutFiles().empty());
    EXPECT_EQ(ExportWithFileLimit(rec_, Out("i.mp4"), 600'000), "10");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"i.mp4"});
}

// Twenty thousand frames (links to one file, to spare the disk): progress for every one,
// and the memory in use does not grow with them.
TEST_F(Export, TwentyThousandFramesShowProgressInFlatMemory) {
    constexpr int kFrames = 20'000;
    const std::string frame = Screens(1, 160, 120).front();
    WriteBytes(root_ / "frame.jpg", frame);
    for (int i = 0; i < kFrames; ++i) {
        fs::create_hard_link(root_ / "frame.jpg", rec_ / RecordedName(i + 1, 8 * kHour + 40LL * i));
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    int calls = 0;
    std::uint64_t lastBytes = 0;
    ExportOptions options;
    options.progress = [&](const media::ExportProgress& p) {
        ++calls;
        EXPECT_EQ(p.total, kFrames);
        EXPECT_GE(p.bytes, lastBytes);
        lastBytes = p.bytes;
        return true;
    };
    const ExportResult r = ExportRecording(rec_, Out("j.mkv"), options);
    ASSERT_TRUE(r.ok()) << r.error;
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(calls, kFrames);
    EXPECT_EQ(r.frames, kFrames);
    EXPECT_EQ(r.durationMs, 40LL * kFrames);
    EXPECT_GT(r.bytes, frame.size() * kFrames);
    // Peak resident memory: the names (about 1 MB) may count, the frames (tens of MB) not.
    // A sanitizer's allocator keeps freed blocks aside, so only a plain build can tell.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "KB";
#else
    (void)before;
    (void)after;
#endif
    EXPECT_EQ(ProbeVideo(Out("j.mkv"), false).packetMs.size(), static_cast<std::size_t>(kFrames));
}

}  // namespace
}  // namespace qv::test
