// Turning frame files into pictures: sizes, scaled copies, and what a hostile or broken
// instrument can send instead of a screen.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "panels/FrameRenderer.h"
#include "panels/ImageServices.h"
#include "panels/JpegMarkers.h"
#include "session/ActivityLog.h"
#include "tests/panels/BadJpegs.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Verdict = JpegLayout::Verdict;

QByteArray Jpeg(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
        ++n;
    }
    return n;
}

// ---- The marker walk, byte by byte -------------------------------------------------------

// FF code | length (counts itself) | body
Bytes Seg(std::uint8_t code, const Bytes& body) {
    const std::size_t n = body.size() + 2;
    Bytes out{0xFF, code, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// P=8 | Y | X | Nf | Nf x (C, H/V=1x1, Tq=0)
Bytes Sof(std::uint8_t code, int w, int h, int components = 3) {
    Bytes body{8,
               static_cast<std::uint8_t>(h >> 8),
               static_cast<std::uint8_t>(h),
               static_cast<std::uint8_t>(w >> 8),
               static_cast<std::uint8_t>(w),
               static_cast<std::uint8_t>(components)};
    for (int c = 1; c <= components; ++c) {
        body.insert(body.end(), {static_cast<std::uint8_t>(c), 0x11, 0});
    }
    return Seg(code, body);
}

// Ns | Ns x (Cs, Td/Ta) | Ss=0 | Se=63 | Ah/Al=0, then the entropy-coded data
Bytes Sos(int components = 3, const Bytes& data = {0x12, 0x34, 0x56}) {
    Bytes body{static_cast<std::uint8_t>(components)};
    for (int c = 1; c <= components; ++c) {
        body.insert(body.end(), {static_cast<std::uint8_t>(c), 0x00});
    }
    body.insert(body.end(), {0, 63, 0});
    Bytes out = Seg(0xDA, body);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

const Bytes kSoi{0xFF, 0xD8};
const Bytes kEoi{0xFF, 0xD9};
const Bytes kTables = Seg(0xDB, Bytes(65, 1));  // a quantisation table's worth

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Cut(Bytes bytes, std::size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

Bytes Scans(int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) {
        const Bytes s = Sos(1);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

struct WalkCase {
    const char* name;
    Bytes bytes;
    Verdict verdict;
    std::uint32_t scans;
};

void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.name;
}

class JpegWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(JpegWalk, VerdictAndScanCount) {
    const WalkCase& c = GetParam();
    const JpegLayout layout =
        WalkJpegMarkers(c.bytes.data(), c.bytes.size(), {100, 4096, 1600 * 1200, 100 * 800 * 600});
    EXPECT_EQ(layout.verdict, c.verdict) << VerdictName(layout.verdict);
    EXPECT_EQ(layout.scans, c.scans);
    if (layout.ok()) {
        // The decoder is handed everything up to and with the end marker, nothing after.
        ASSERT_GE(layout.end, 2u);
        EXPECT_EQ(c.bytes[layout.end - 2], 0xFF);
        EXPECT_EQ(c.bytes[layout.end - 1], 0xD9);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, JpegWalk,
    ::testing::Values(
        WalkCase{"Baseline", Cat({kSoi, kTables, Sof(0xC0, 16, 8), Sos(), kEoi}), Verdict::Ok, 1},
        WalkCase{"ArithmeticProgressive", Cat({kSoi, Sof(0xCA, 16, 8), Sos(3), Sos(1), kEoi}),
                 Verdict::Ok, 2},
        // Fill bytes before a marker; anything after the end marker is not the picture.
        WalkCase{"FillBytesAndTrailer",
                 Cat({kSoi, Sof(0xC2, 16, 8), Sos(), {0xFF, 0xFF, 0xFF}, kEoi, {1, 2, 3}}),
                 Verdict::Ok, 1},
        // FF 00 is a data byte and FF D0..D7 a restart, also after fill bytes: the scan goes on.
        WalkCase{
            "StuffedBytesAndRestarts",
            Cat({kSoi, Sof(0xC0, 16, 8),
                 Sos(3, {0xFF, 0x00, 0x11, 0xFF, 0xD0, 0x22, 0xFF, 0xFF, 0x00, 0xFF, 0xD7}), kEoi}),
            Verdict::Ok, 1},
        // A scan header right after entropy-coded data is a new scan, restarts between.
        WalkCase{"ScanAfterScan",
                 Cat({kSoi, Sof(0xC2, 16, 8), Sos(3, {0x01, 0xFF, 0xD1}), Sos(1), kEoi}),
                 Verdict::Ok, 2},
        WalkCase{"HundredScans", Cat({kSoi, Sof(0xC2, 16, 8), Scans(100), kEoi}), Verdict::Ok, 100},
        WalkCase{"HundredAndOneScans", Cat({kSoi, Sof(0xC2, 16, 8), Scans(101), kEoi}),
                 Verdict::TooManyScans, 101},
        // Fewer scans for larger frames: scans times pixels is bounded too.
        WalkCase{"HundredScansOfAScreen", Cat({kSoi, Sof(0xC2, 800, 600), Scans(100), kEoi}),
                 Verdict::Ok, 100},
        WalkCase{"TwentyFiveScansOfTheLargest", Cat({kSoi, Sof(0xC2, 1600, 1200), Scans(25), kEoi}),
                 Verdict::Ok, 25},
        WalkCase{"TwentySixScansOfTheLargest", Cat({kSoi, Sof(0xC2, 1600, 1200), Scans(26), kEoi}),
                 Verdict::TooManyScans, 26},
        WalkCase{"LargestFrame", Cat({kSoi, Sof(0xC0, 1600, 1200), Sos(), kEoi}), Verdict::Ok, 1},
        WalkCase{"WidestFrame", Cat({kSoi, Sof(0xC0, 4096, 400), Sos(), kEoi}), Verdict::Ok, 1},
        // Refused at the frame header: nothing after it is read.
        WalkCase{"HugeHeader", Cat({kSoi, Sof(0xC0, 60000, 60000)}), Verdict::TooLarge, 0},
        WalkCase{"OnePixelOver", Cat({kSoi, Sof(0xC0, 1601, 1200), Sos(), kEoi}), Verdict::TooLarge,
                 0},
        WalkCase{"SideOver", Cat({kSoi, Sof(0xC0, 8, 4097), Sos(), kEoi}), Verdict::TooLarge, 0},
        WalkCase{"NoEndMarker", Cat({kSoi, Sof(0xC0, 16, 8), Sos()}), Verdict::Truncated, 1},
        WalkCase{"EndsInFillBytes", Cat({kSoi, Sof(0xC0, 16, 8), Sos(), {0xFF, 0xFF}}),
                 Verdict::Truncated, 1},
        WalkCase{"CutInsideAFrameHeader", Cut(Cat({kSoi, Sof(0xC0, 16, 8)}), 3), Verdict::Truncated,
                 0},
        WalkCase{"CutInsideATable", Cut(Cat({kSoi, kTables}), 30), Verdict::Truncated, 0},
        WalkCase{"CutInsideALength", Cat({kSoi, {0xFF, 0xDB, 0x00}}), Verdict::Truncated, 0},
        WalkCase{"Empty", Bytes{}, Verdict::NotJpeg, 0},
        WalkCase{"Png", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Verdict::NotJpeg, 0},
        // Stray bytes where a marker belongs are passed over as the decoder passes over
        // them, so a scan among them is found and counted all the same.
        WalkCase{"StrayBytesBetweenSegments",
                 Cat({kSoi, Sof(0xC2, 16, 8), {0x00, 0x12, 0xFF, 0x00, 0x7F}, Sos(), kEoi}),
                 Verdict::Ok, 1},
        WalkCase{"ScanAmongStrayBytes",
                 Cat({kSoi, Sof(0xC2, 800, 600), Scans(100), {0x00, 0xFF, 0x00}, Sos(1), kEoi}),
                 Verdict::TooManyScans, 101},
        WalkCase{"ScanBeforeFrame", Cat({kSoi, Sos(), Sof(0xC0, 16, 8), kEoi}), Verdict::Malformed,
                 0},
        WalkCase{"TwoFrames", Cat({kSoi, Sof(0xC0, 16, 8), Sof(0xC0, 16, 8), Sos(), kEoi}),
                 Verdict::Malformed, 0},
        WalkCase{"Lossless", Cat({kSoi, Sof(0xC3, 16, 8), Sos(), kEoi}), Verdict::Malformed, 0},
        WalkCase{"Hierarchical", Cat({kSoi, Sof(0xC5, 16, 8), Sos(), kEoi}), Verdict::Malformed, 0},
        WalkCase{"ZeroHeight", Cat({kSoi, Sof(0xC0, 16, 0), Sos(), kEoi}), Verdict::Malformed, 0},
        WalkCase{"FiveComponents", Cat({kSoi, Sof(0xC0, 16, 8, 5), Sos(), kEoi}),
                 Verdict::Malformed, 0},
        WalkCase{"ScanOfFiveComponents", Cat({kSoi, Sof(0xC0, 16, 8), Sos(5), kEoi}),
                 Verdict::Malformed, 0},
        WalkCase{"SecondStartOfImage", Cat({kSoi, kSoi, Sof(0xC0, 16, 8), Sos(), kEoi}),
                 Verdict::Malformed, 0},
        WalkCase{"ReservedMarker", Cat({kSoi, Seg(0xC8, {1, 2}), Sof(0xC0, 16, 8), Sos(), kEoi}),
                 Verdict::Malformed, 0},
        WalkCase{"LengthBelowTwo", Cat({kSoi, {0xFF, 0xFE, 0x00, 0x01}, kEoi}), Verdict::Malformed,
                 0},
        WalkCase{"TablesOnly", Cat({kSoi, kTables, kEoi}), Verdict::Malformed, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegWalkOfEncoderOutput, ScansAndSizeAsWritten) {
    const QImage screen = badjpeg::Screen(800, 480);
    const struct {
        QByteArray bytes;
        std::uint32_t scans;
    } cases[] = {
        {badjpeg::Encode(screen, "jpeg"), 1},
        {badjpeg::Encode(screen, "jpeg", true), 10},
        {badjpeg::Encode(screen.convertToFormat(QImage::Format_Grayscale8), "jpeg", true), 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scans);
        const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.constData());
        const JpegLayout layout = WalkJpegMarkers(data, static_cast<std::size_t>(c.bytes.size()));
        EXPECT_TRUE(layout.ok()) << VerdictName(layout.verdict);
        EXPECT_EQ(layout.scans, c.scans);
        EXPECT_EQ(layout.width, 800u);
        EXPECT_EQ(layout.height, 480u);
        EXPECT_EQ(layout.end, static_cast<std::size_t>(c.bytes.size()));
        const auto image =
            ImageServices::DecodeBytes(data, static_cast<std::size_t>(c.bytes.size()));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(800, 480));
    }
}

// ---- Rendering frame files ---------------------------------------------------------------

class FrameRendererTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ActivityLog::Instance().Open(dir_.filePath("").toStdString());
    }
    void TearDown() override { ActivityLog::Instance().Close(); }

    std::string Write(const QByteArray& bytes) {
        const QString path = dir_.filePath("20261206_101010_123.jpg");
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return path.toStdString();
    }
    std::string Log() const { return ReadAll(ActivityLog::Instance().Path()); }
    std::size_t Refusals() const { return Count(Log(), "   Image Load Failed\r\n"); }

    QTemporaryDir dir_;
};

TEST_F(FrameRendererTest, DrawnSizesOfBothPanels) {
    const std::string path = Write(Jpeg(800, 600));
    FrameRenderer hard(false);
    EXPECT_EQ(hard.Render(path)->size(), QSize(800, 480));
    FrameRenderer soft(true);
    const struct {
        int scale;
        QSize size;
        const char* copy;
    } cases[] = {{0, {800, 600}, nullptr},
                 {1, {680, 510}, "20261206_101010_123_085.jpg"},
                 {2, {559, 419}, "20261206_101010_123_070.jpg"}};  // 0.7f lies below 0.7
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale);
        soft.SetScale(c.scale);
        const auto image = soft.Render(path);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), c.size);
        if (c.copy != nullptr) {
            // The scaled copy is left beside the frame file.
            const auto copy = ImageServices::DecodeFile(dir_.filePath(c.copy));
            ASSERT_TRUE(copy);
            EXPECT_EQ(copy->size(), c.size);
        }
    }
    // A frame of another size is stretched all the same.
    EXPECT_EQ(hard.Render(Write(Jpeg(320, 240)))->size(), QSize(800, 480));
}

TEST_F(FrameRendererTest, BadFramesAreRefusedAndLogged) {
    FrameRenderer renderer(true);
    QByteArray truncated = Jpeg(800, 600);
    truncated.truncate(200);
    QByteArray garbage(5000, '\x7e');
    const QByteArray cases[] = {QByteArray(), garbage, truncated, Jpeg(5000, 4000)};
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        EXPECT_FALSE(renderer.Render(Write(bytes)));
    }
    EXPECT_FALSE(renderer.Render(dir_.filePath("missing.jpg").toStdString()));
    // A folder or a pipe under the frame's name is refused without waiting for a writer.
    EXPECT_FALSE(renderer.Render(dir_.path().toStdString()));
    const std::string fifo = dir_.filePath("pipe.jpg").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(renderer.Render(fifo));
    EXPECT_EQ(Refusals(), 7u);
    const QByteArray small = Jpeg(16, 16);
    EXPECT_TRUE(ImageServices::DecodeBytes(reinterpret_cast<const std::uint8_t*>(small.constData()),
                                           static_cast<std::size_t>(small.size())));
    EXPECT_FALSE(ImageServices::DecodeBytes(nullptr, 10));
}

// What a hostile instrument can send instead of a screen. Each must be refused before it
// costs the worker more than a moment (the image benchmark measures how long), logged, and
// leave the last good frame where it was: here its scaled copy, untouched.
TEST_F(FrameRendererTest, HostileFramesAreRefusedAndTheLastGoodOneStays) {
    const QImage screen = badjpeg::Screen(800, 600);
    QByteArray gif =
        QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");
    const struct {
        const char* name;
        QByteArray bytes;
        bool qtWouldDecode;  // Qt alone, guessing the format, returns a picture
    } cases[] = {
        {"progressive bomb", badjpeg::ProgressiveBomb(800, 600, 10000), true},
        {"60000x60000 header", badjpeg::HugeHeader(60000, 60000), false},
        {"truncated", badjpeg::Truncated(800, 600), true},
        {"PNG", badjpeg::Encode(screen, "png"), true},
        {"BMP", badjpeg::Encode(screen, "bmp"), true},
        {"XPM", badjpeg::Encode(badjpeg::Screen(40, 30), "xpm"), true},
        {"GIF", gif, true},
    };

    FrameRenderer renderer(true);
    renderer.SetScale(1);
    ASSERT_TRUE(renderer.Render(Write(badjpeg::Encode(screen, "jpeg"))));
    const std::string copy = dir_.filePath("20261206_101010_123_085.jpg").toStdString();
    const std::string good = ReadAll(copy);
    ASSERT_FALSE(good.empty());

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        if (c.qtWouldDecode && c.bytes.size() < 100000) {
            // Not a straw man: left to itself Qt draws it (the bomb takes it seconds: see the
            // image benchmark).
            EXPECT_FALSE(QImage::fromData(c.bytes).isNull());
        }
        const std::size_t before = Refusals();
        EXPECT_FALSE(renderer.Render(Write(c.bytes)));
        EXPECT_EQ(Refusals(), before + 1);
        EXPECT_TRUE(ReadAll(copy) == good) << "the last good frame was replaced";
    }
    // The same construction kept under the scan limit is an ordinary, decodable picture.
    const auto fine = renderer.Render(Write(badjpeg::ProgressiveBomb(800, 600, 90)));
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->size(), QSize(680, 510));
}

TEST_F(FrameRendererTest, ScaledCopiesReplacePlantedLinks) {
    const std::string victim = dir_.filePath("victim").toStdString();
    { std::ofstream(victim) << "precious"; }
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const std::string frame = Write(Jpeg(800, 600));
    FrameRenderer renderer(true);
    const struct {
        int scale;
        std::string copy;
        QSize size;
    } cases[] = {{1, FrameRenderer::ScaledCopyPath(frame, 1), {680, 510}},
                 {2, FrameRenderer::ScaledCopyPath(frame, 2), {559, 419}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale);
        ASSERT_EQ(::symlink(victim.c_str(), c.copy.c_str()), 0);
        renderer.SetScale(c.scale);
        ASSERT_TRUE(renderer.Render(frame));
        EXPECT_TRUE(ReadAll(victim) == "precious") << "written through the planted link";
        struct stat st {};
        ASSERT_EQ(::lstat(c.copy.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const auto copy = ImageServices::DecodeFile(QString::fromStdString(c.copy));
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->size(), c.size);
    }
    // An encoder the name does not give, or a folder that is not there: nothing is written.
    const QImage image = badjpeg::Screen(80, 60);
    EXPECT_FALSE(ImageServices::Save(image, dir_.filePath("frame.nosuchformat")));
    EXPECT_FALSE(ImageServices::Save(image, dir_.filePath("no/such/frame_085.jpg")));
    // Frame, two copies, victim, log; no temporary file is left behind.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::System).size(), 5);
}

}  // namespace
}  // namespace qv
