// Recordings to video files, checked with FFmpeg's own tools on the files written: the
// Matroska file holds the recorded JPEG files byte for byte at their times, the MP4 is H.264
// with every frame held until the next; bad files are skipped, and nothing is ever left
// half-written or written through a planted link.
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

    // Writes frames into the recording as the window names them, starting at startMs (time
    // of day) with the given steps between them; returns their names.
    std::vector<std::string> Record(const std::vector<std::string>& frames, std::int64_t startMs,
                                    const std::vector<std::int64_t>& steps) {
        std::vector<std::string> names;
        std::int64_t t = startMs;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            names.push_back(RecordedName(static_cast<int>(i + 1), t));
            WriteBytes(rec_ / names.back(), frames[i]);
            t += steps[i % steps.size()];
        }
        return names;
    }
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
    static ExportResult Run(const std::string& folder, const std::string& out,
                            bool replace = false) {
        ExportOptions options;
        options.replace = replace;
        return ExportRecording(folder, out, options);
    }

    fs::path root_;
    fs::path rec_;
    fs::path out_;
};

// Thirty frames from 23:59:58 across midnight, at uneven steps with a 4 s gap: every packet
// at its recorded time, every frame the recorded file, the last shown one step.
TEST_F(Export, MatroskaHoldsTheRecordedFilesByteForByteAtTheirTimes) {
    const auto frames = Screens(30);
    const auto names = Record(frames, 24 * kHour - 2000, {500, 40, 501, 4000, 120});
    const ExportResult r = Run(rec_, Out("a.mkv"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.frames, 30);
    EXPECT_EQ(r.skipped, 0);

    const VideoFacts v = ProbeVideo(Out("a.mkv"));
    EXPECT_EQ(v.codec, "mjpeg");
    EXPECT_EQ(std::tie(v.width, v.height), std::make_tuple(800, 600));
    EXPECT_EQ(v.frames, 30);
    std::vector<std::int64_t> want;
    std::int64_t t = 0;
    const std::int64_t steps[] = {500, 40, 501, 4000, 120};
    for (int i = 0; i < 30; ++i) {
        want.push_back(t);
        t += steps[i % 5];
    }
    EXPECT_EQ(v.packetMs, want);
    // The last frame is shown as long as the one before it: 120 ms after its start at 29.
    EXPECT_NEAR(v.duration * 1000, static_cast<double>(want.back() + 4000), 1.5);
    EXPECT_EQ(r.durationMs, want.back() + 4000);

    const auto copied = ExtractFrames(Out("a.mkv"), root_ / "copied");
    ASSERT_EQ(copied.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(copied[i] == frames[i]) << "frame " << i << " differs from " << names[i];
    }
    EXPECT_EQ(FileMode(Out("a.mkv")), S_IFREG | 0600u);
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"a.mkv"});
}

// H.264 for every player: 4:2:0, an odd first size made even, a later frame of another
// size scaled to it, the index first; as many frames as recorded and as long, within a frame.
TEST_F(Export, Mp4IsH264WithEveryFrameHeldUntilTheNext) {
    auto frames = Screens(20, 801, 601);
    const auto other = Screens(2, 640, 480);
    frames.insert(frames.begin() + 10, other.begin(), other.end());
    Record(frames, 9 * kHour, {500, 250, 1500});
    const ExportResult r = Run(rec_, Out("b.mp4"));
    ASSERT_TRUE(r.ok()) << r.error;
    const VideoFacts v = ProbeVideo(Out("b.mp4"));
    EXPECT_EQ(v.codec, "h264");
    EXPECT_EQ(v.pixelFormat, "yuv420p");
    EXPECT_EQ(std::tie(v.width, v.height), std::make_tuple(800, 600));
    EXPECT_EQ(v.frames, 22);
    EXPECT_EQ(r.frames, 22);
    // 22 frames: 7 whole rounds of 2,250 ms and one 500 ms step, then the last frame as long
    // as the step before it (500 ms).
    const double want = (7 * 2250 + 500 + 500) / 1000.0;
    EXPECT_NEAR(v.duration, want, 0.5) << "within one frame";
    ASSERT_EQ(v.packetMs.size(), 22u);
    EXPECT_EQ(v.packetMs[1], 500);
    EXPECT_EQ(v.packetMs[3], 2250);
    const std::string bytes = ReadAll(Out("b.mp4"));
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "+faststart";
}

// Not a JPEG, cut short, empty: skipped and counted, the first named, the rest exported; a
// folder with a JPEG's name is no frame at all.
TEST_F(Export, BadFilesAreSkippedAndCountedTheRestExported) {
    const auto frames = Screens(6);
    const auto names = Record(frames, 8 * kHour, {500});
    WriteBytes(rec_ / names[1], "GIF89a this is no JPEG");
    WriteBytes(rec_ / names[3], frames[3].substr(0, frames[3].size() / 2));
    fs::create_directory(rec_ / "00000003_a.jpg");
    WriteBytes(rec_ / "00000004_empty.jpg", "");
    for (const char* out : {"c.mkv", "c.mp4"}) {
        const ExportResult r = Run(rec_, Out(out));
        ASSERT_TRUE(r.ok()) << out << ": " << r.error;
        EXPECT_EQ(r.skipped, 3) << out;
        EXPECT_EQ(r.frames, 4) << out;
        EXPECT_EQ(r.firstSkipped, names[1] + ": not a JPEG") << out;
        EXPECT_EQ(ProbeVideo(Out(out)).frames, 4) << out;
    }
    const auto copied = ExtractFrames(Out("c.mkv"), root_ / "copied");
    ASSERT_EQ(copied.size(), 4u);
    EXPECT_TRUE(copied[0] == frames[0] && copied[1] == frames[2] && copied[2] == frames[4] &&
                copied[3] == frames[5]);
}

TEST_F(Export, NothingToExportIsAnErrorAndLeavesNoFile) {
    ExportResult r = Run(rec_, Out("d.mkv"));
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("holds no recorded frames"), std::string::npos) << r.error;
    WriteBytes(rec_ / "00000001_100000_000.jpg", "not a picture");
    WriteBytes(rec_ / "00000002_100000_500.jpg", "\xFF\xD8\xFF");
    for (const char* out : {"d.mkv", "d.mp4"}) {
        r = Run(rec_, Out(out));
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.skipped, 2);
        EXPECT_NE(r.error.find("no frame of " + rec_.string() + " could be read (2 skipped"),
                  std::string::npos)
            << r.error;
    }
    r = Run(root_ / "missing", Out("d.mkv"));
    EXPECT_NE(r.error.find("No such file or directory"), std::string::npos) << r.error;
    r = Run(rec_, Out("d.avi"));
    EXPECT_NE(r.error.find("must end in .mkv or .mp4"), std::string::npos) << r.error;
    r = Run(rec_, root_ / "no-folder" / "d.mkv");
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(OutFiles().empty());
}

// A name that is taken is left alone unless replacing was asked for; a planted link is never
// written through: it is refused, or replaced itself by a new file of the user's alone.
TEST_F(Export, AnExistingOutputOrAPlantedLinkIsNeverWrittenThrough) {
    Record(Screens(3), 8 * kHour, {500});
    WriteBytes(Out("e.mkv"), "keep me");
    const std::string victim = root_ / "victim";
    WriteBytes(victim, "not yours");
    fs::create_symlink(victim, Out("f.mp4"));
    ExportResult r = Run(rec_, Out("e.mkv"));
    EXPECT_TRUE(r.exists && !r.ok());
    EXPECT_EQ(ReadAll(Out("e.mkv")), "keep me");
    r = Run(rec_, Out("f.mp4"));
    EXPECT_TRUE(r.exists && !r.ok());
    EXPECT_TRUE(fs::is_symlink(Out("f.mp4")));

    r = Run(rec_, Out("f.mp4"), true);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(ReadAll(victim), "not yours");
    EXPECT_EQ(FileMode(Out("f.mp4")), S_IFREG | 0600u) << "a file of the user's alone";
    r = Run(rec_, Out("e.mkv"), true);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(ProbeVideo(Out("e.mkv")).frames, 3);
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"e.mkv", "f.mp4"}));
}

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

// Cancelled after five frames, or out of room half-way (a real file-size limit: the kernel
// refuses the write): the partial file is gone and the failure says the disk is full.
TEST_F(Export, CancelAndAFullDiskLeaveNoPartialFile) {
    Record(Screens(40), 8 * kHour, {500});
    for (const char* out : {"g.mkv", "g.mp4"}) {
        ExportOptions options;
        int calls = 0;
        options.progress = [&](const media::ExportProgress& p) {
            EXPECT_EQ(p.done, ++calls);
            EXPECT_EQ(p.total, 40);
            return p.done < 5;
        };
        const ExportResult r = ExportRecording(rec_, Out(out), options);
        EXPECT_EQ(r.status, ExportResult::Status::Cancelled) << out;
        EXPECT_EQ(calls, 5);
        EXPECT_TRUE(OutFiles().empty()) << out;
    }
    // MKV: 40 screens of about 60 KB; MP4: the encoder's output is smaller.
    const std::pair<const char*, rlim_t> limits[] = {{"h.mkv", 600'000}, {"h.mp4", 60'000}};
    for (const auto& [out, limit] : limits) {
        const std::string r = ExportWithFileLimit(rec_, Out(out), limit);
        EXPECT_EQ(r.substr(0, 2), "01") << "failed, the disk full: " << r;
        EXPECT_NE(r.find("cannot write " + Out(out) + ": File too large"), std::string::npos) << r;
        EXPECT_TRUE(OutFiles().empty()) << out;
    }
    // Just enough room: the same limit that cut the MKV short holds the whole MP4.
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
    EXPECT_EQ(ProbeLines(Out("j.mkv"), "packet=pts_time").size(),
              static_cast<std::size_t>(kFrames));
}

// Live frames at the moment they came: a gap is the frame before it held, the file ends
// where asked, a frame after the end is not written, and no frame means no file.
TEST_F(Export, LiveFramesAtTheirArrivalAGapHeldTheEndWhereAsked) {
    using Clock = media::LiveRecorder::Clock;
    const auto frames = Screens(6);
    const auto t0 = Clock::now();
    const std::int64_t at[] = {0, 100, 200, 3200, 3300, 9000};
    media::LiveRecorder recorder;
    ASSERT_TRUE(recorder.Open(Out("k.mkv"), false)) << recorder.Error();
    for (int i = 0; i < 6; ++i) {
        const auto& f = frames[static_cast<std::size_t>(i)];
        recorder.Push({reinterpret_cast<const std::uint8_t*>(f.data()), f.size()},
                      t0 + std::chrono::milliseconds(at[i]));
    }
    ASSERT_TRUE(recorder.Finish(t0 + std::chrono::milliseconds(5000))) << recorder.Error();
    EXPECT_EQ(recorder.stats().frames, 5);
    const VideoFacts v = ProbeVideo(Out("k.mkv"));
    EXPECT_EQ(v.packetMs, (std::vector<std::int64_t>{0, 100, 200, 3200, 3300}));
    EXPECT_NEAR(v.duration, 5.0, 0.0015);
    const auto copied = ExtractFrames(Out("k.mkv"), root_ / "copied");
    ASSERT_EQ(copied.size(), 5u);
    EXPECT_TRUE(copied[4] == frames[4]);

    media::LiveRecorder empty;
    ASSERT_TRUE(empty.Open(Out("l.mp4"), false));
    EXPECT_FALSE(empty.Finish(Clock::now()));
    EXPECT_EQ(empty.Error(), "no screen came");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"k.mkv"});
}

}  // namespace
}  // namespace qv::test
