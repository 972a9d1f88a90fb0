// Turning frame files into pictures: sizes, scaled copies, and what a hostile or broken
// instrument can send instead of a screen.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>

#include "panels/FrameRenderer.h"
#include "panels/ImageServices.h"
#include "session/ActivityLog.h"
#include "session/JpegMarkers.h"
#include "tests/TestFiles.h"
#include "tests/panels/BadJpegs.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using V = JpegLayout::Verdict;

QByteArray Jpeg(int w, int h) {
    return badjpeg::Encode(badjpeg::Screen(w, h), "jpeg");
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// FF code | length (counts itself) | body
Bytes Seg(std::uint8_t code, const Bytes& body) {
    const std::size_t n = body.size() + 2;
    return Cat(
        {{0xFF, code, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)}, body});
}

// P=8 | Y | X | Nf | Nf x (C, H/V=1x1, Tq=0)
Bytes Sof(std::uint8_t code, int w, int h, int components = 3) {
    const auto byte = [](int v) { return static_cast<std::uint8_t>(v); };
    Bytes body{8, byte(h >> 8), byte(h), byte(w >> 8), byte(w), byte(components)};
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
    return Cat({Seg(0xDA, body), data});
}

const Bytes kSoi{0xFF, 0xD8};
const Bytes kEoi{0xFF, 0xD9};
const Bytes kTables = Seg(0xDB, Bytes(65, 1));  // a quantisation table's worth
const Bytes kFrame = Sof(0xC0, 16, 8);

// n one-component scans.
Bytes Scans(int n) {
    Bytes out;
    while (n-- > 0) {
        out = Cat({out, Sos(1)});
    }
    return out;
}

// Verdict and scan count of each layout, by the limits the decoder is given; then of baseline,
// progressive and grey progressive screens as Qt writes them, walked and decoded.
TEST(JpegWalk, VerdictAndScanCount) {
    const auto frame = [](int w, int h) { return Sof(0xC2, w, h); };
    // clang-format off
    const std::tuple<const char*, Bytes, V, std::uint32_t> cases[] = {
        {"baseline", Cat({kSoi, kTables, kFrame, Sos(), kEoi}), V::Ok, 1},
        {"arithmetic progressive", Cat({kSoi, Sof(0xCA, 16, 8), Sos(3), Sos(1), kEoi}), V::Ok, 2},
        // Fill bytes before a marker; what follows the end marker is not the picture.
        {"fill and trailer", Cat({kSoi, frame(16, 8), Sos(), {0xFF, 0xFF, 0xFF}, kEoi, {1, 2, 3}}), V::Ok, 1},
        // FF 00 is a data byte and FF D0..D7 a restart, also after fill bytes.
        {"stuffing and restarts", Cat({kSoi, kFrame, Sos(3, {0xFF, 0x00, 0x11, 0xFF, 0xD0, 0x22, 0xFF, 0xFF, 0x00, 0xFF, 0xD7}), kEoi}), V::Ok, 1},
        {"scan after scan", Cat({kSoi, frame(16, 8), Sos(3, {0x01, 0xFF, 0xD1}), Sos(1), kEoi}), V::Ok, 2},
        {"100 scans", Cat({kSoi, frame(16, 8), Scans(100), kEoi}), V::Ok, 100},
        {"101 scans", Cat({kSoi, frame(16, 8), Scans(101), kEoi}), V::TooManyScans, 101},
        // Fewer scans for larger frames: scans times pixels is bounded too.
        {"100 scans of a screen", Cat({kSoi, frame(800, 600), Scans(100), kEoi}), V::Ok, 100},
        {"100 scans of a screen a row taller", Cat({kSoi, frame(800, 601), Scans(100), kEoi}), V::TooManyScans, 100},
        {"25 scans of the largest", Cat({kSoi, frame(1600, 1200), Scans(25), kEoi}), V::Ok, 25},
        {"26 scans of the largest", Cat({kSoi, frame(1600, 1200), Scans(26), kEoi}), V::TooManyScans, 26},
        {"largest", Cat({kSoi, Sof(0xC0, 1600, 1200), Sos(), kEoi}), V::Ok, 1},
        {"widest", Cat({kSoi, Sof(0xC0, 4096, 400), Sos(), kEoi}), V::Ok, 1},
        // Refused at the frame header: nothing after it is read.
        {"huge header", Cat({kSoi, Sof(0xC0, 60000, 60000)}), V::TooLarge, 0},
        {"a pixel over", Cat({kSoi, Sof(0xC0, 1601, 1200), Sos(), kEoi}), V::TooLarge, 0},
        {"a row over", Cat({kSoi, Sof(0xC0, 1600, 1201), Sos(), kEoi}), V::TooLarge, 0},
        {"a side over", Cat({kSoi, Sof(0xC0, 8, 4097), Sos(), kEoi}), V::TooLarge, 0},
        {"no end marker", Cat({kSoi, kFrame, Sos()}), V::Truncated, 1},
        {"ends in fill", Cat({kSoi, kFrame, Sos(), {0xFF, 0xFF}}), V::Truncated, 1},
        {"cut in a frame header", Cat({kSoi, Bytes(kFrame.begin(), kFrame.end() - 3)}), V::Truncated, 0},
        {"cut in a table", Cat({kSoi, Bytes(kTables.begin(), kTables.end() - 30)}), V::Truncated, 0},
        {"cut in a length", Cat({kSoi, {0xFF, 0xDB, 0x00}}), V::Truncated, 0},
        {"empty", Bytes{}, V::NotJpeg, 0},
        {"PNG", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, V::NotJpeg, 0},
        // Stray bytes where a marker belongs are passed over as the decoder passes over them,
        // so a scan among them is found and counted all the same.
        {"stray bytes", Cat({kSoi, frame(16, 8), {0x00, 0x12, 0xFF, 0x00, 0x7F}, Sos(), kEoi}), V::Ok, 1},
        {"scan among stray bytes", Cat({kSoi, frame(800, 600), Scans(100), {0x00, 0xFF, 0x00}, Sos(1), kEoi}), V::TooManyScans, 101},
        {"scan before frame", Cat({kSoi, Sos(), kFrame, kEoi}), V::Malformed, 0},
        {"two frames", Cat({kSoi, kFrame, kFrame, Sos(), kEoi}), V::Malformed, 0},
        {"lossless", Cat({kSoi, Sof(0xC3, 16, 8), Sos(), kEoi}), V::Malformed, 0},
        {"hierarchical", Cat({kSoi, Sof(0xC5, 16, 8), Sos(), kEoi}), V::Malformed, 0},
        {"zero height", Cat({kSoi, Sof(0xC0, 16, 0), Sos(), kEoi}), V::Malformed, 0},
        {"five components", Cat({kSoi, Sof(0xC0, 16, 8, 5), Sos(), kEoi}), V::Malformed, 0},
        {"scan of five", Cat({kSoi, kFrame, Sos(5), kEoi}), V::Malformed, 0},
        {"second start", Cat({kSoi, kSoi, kFrame, Sos(), kEoi}), V::Malformed, 0},
        {"reserved marker", Cat({kSoi, Seg(0xC8, {1, 2}), kFrame, Sos(), kEoi}), V::Malformed, 0},
        {"length below two", Cat({kSoi, {0xFF, 0xFE, 0x00, 0x01}, kEoi}), V::Malformed, 0},
        {"tables only", Cat({kSoi, kTables, kEoi}), V::Malformed, 0},
    };
    // clang-format on
    // The limits the frame decode applies, not a copy of them.
    for (const auto& [name, bytes, verdict, scans] : cases) {
        SCOPED_TRACE(name);
        const JpegLayout layout =
            WalkJpegMarkers(bytes.data(), bytes.size(), ImageServices::kLimits);
        EXPECT_EQ(layout.verdict, verdict) << VerdictName(layout.verdict);
        EXPECT_EQ(layout.scans, scans);
        if (layout.ok()) {
            // The decoder is handed everything up to and with the end marker, nothing after.
            ASSERT_GE(layout.end, 2u);
            EXPECT_EQ(bytes[layout.end - 2], 0xFF);
            EXPECT_EQ(bytes[layout.end - 1], 0xD9);
        }
    }
    const QImage screen = badjpeg::Screen(800, 480);
    const QImage grey = screen.convertToFormat(QImage::Format_Grayscale8);
    for (const auto& [bytes, scans] : {std::pair{badjpeg::Encode(screen, "jpeg"), 1u},
                                       std::pair{badjpeg::Encode(screen, "jpeg", true), 10u},
                                       std::pair{badjpeg::Encode(grey, "jpeg", true), 6u}}) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        const auto size = static_cast<std::size_t>(bytes.size());
        const JpegLayout layout = WalkJpegMarkers(data, size);
        EXPECT_TRUE(layout.ok() && layout.scans == scans && layout.end == size) << scans;
        EXPECT_EQ(QSize(int(layout.width), int(layout.height)), QSize(800, 480));
        const auto image = ImageServices::DecodeBytes(data, size);
        EXPECT_TRUE(image && image->size() == QSize(800, 480)) << scans;
    }
}

// Drawn sizes of both panels; the soft-key panel's scaled copy beside the frame file replaces
// a link planted under its name instead of writing through it.
TEST(FrameRenderer, SizesScaledCopiesAndBadFrames) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ActivityLog::Instance().Open(dir.path().toStdString());
    const auto writeFrame = [&dir](const QByteArray& bytes) {
        QFile f(dir.filePath("20261206_101010_123.jpg"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return f.fileName().toStdString();
    };
    const auto refusals = [] {
        const QByteArray log = QByteArray::fromStdString(ReadAll(ActivityLog::Instance().Path()));
        return static_cast<std::size_t>(log.count("   Image Load Failed\r\n"));
    };
    const std::string victim = dir.filePath("victim").toStdString();
    std::ofstream(victim) << "precious";
    const std::string frame = writeFrame(Jpeg(800, 600));
    FrameRenderer hard(false);  // stretched to its screen
    EXPECT_EQ(hard.Render(frame)->size(), QSize(800, 480));
    EXPECT_EQ(hard.Render(writeFrame(Jpeg(320, 240)))->size(), QSize(800, 480));
    writeFrame(Jpeg(800, 600));
    FrameRenderer soft(true);
    EXPECT_EQ(soft.Render(frame)->size(), QSize(800, 600));
    // 0.7f lies below 0.7.
    for (const auto& [scale, size, copy] :
         {std::tuple{1, QSize(680, 510), "_085.jpg"}, std::tuple{2, QSize(559, 419), "_070.jpg"}}) {
        SCOPED_TRACE(scale);
        const std::string path = FrameRenderer::ScaledCopyPath(frame, scale);
        EXPECT_EQ(path, dir.filePath(QString("20261206_101010_123") + copy).toStdString());
        ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
        soft.SetScale(scale);
        EXPECT_EQ(soft.Render(frame).value_or(QImage()).size(), size);
        EXPECT_EQ(ReadAll(victim), "precious") << "written through the planted link";
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0170777 : 0u, S_IFREG | 0600u);
        const auto saved = ImageServices::DecodeFile(QString::fromStdString(path));
        EXPECT_EQ(saved.value_or(QImage()).size(), size);
    }
    // An encoder the name does not give, or a folder that is not there: nothing is written.
    EXPECT_FALSE(ImageServices::Save(badjpeg::Screen(80, 60), dir.filePath("f.nosuchformat")));
    EXPECT_FALSE(ImageServices::Save(badjpeg::Screen(80, 60), dir.filePath("no/such/f.jpg")));
    // Frame, two copies, victim, log: no temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 5);

    // What a hostile or broken instrument can send instead of a screen: each is refused at
    // once, logged, and leaves the last good frame (here its scaled copy) where it was.
    const QByteArray gif =
        QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");
    const std::tuple<const char*, QByteArray, bool> cases[] = {
        // Qt alone, guessing the format, draws those marked. The bomb, a huge header, a lost
        // tail and PNG are met over a real link by panels_window_test.
        {"cut to 200 bytes", Jpeg(800, 600).left(200), false},
        {"5000x4000", Jpeg(5000, 4000), false},
        {"empty", QByteArray(), false},
        {"garbage", QByteArray(5000, '\x7e'), false},
        {"BMP", badjpeg::Encode(badjpeg::Screen(800, 600), "bmp"), true},
        {"XPM", badjpeg::Encode(badjpeg::Screen(40, 30), "xpm"), true},
        {"GIF", gif, true},
    };
    soft.SetScale(1);
    ASSERT_TRUE(soft.Render(frame));
    const std::string copy = dir.filePath("20261206_101010_123_085.jpg").toStdString();
    const std::string good = ReadAll(copy);
    ASSERT_FALSE(good.empty());
    for (const auto& [name, bytes, qtDraws] : cases) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(!qtDraws || !QImage::fromData(bytes).isNull()) << "not a straw man";
        const std::size_t before = refusals();
        EXPECT_FALSE(soft.Render(writeFrame(bytes)));
        EXPECT_EQ(refusals(), before + 1);
        EXPECT_TRUE(ReadAll(copy) == good) << "the last good frame was replaced";
    }
    // Missing, a folder, or a pipe under the frame's name: refused without waiting for a writer.
    const std::string fifo = dir.filePath("pipe.jpg").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {dir.filePath("missing.jpg").toStdString(), dir.path().toStdString(), fifo}) {
        EXPECT_FALSE(soft.Render(path)) << path;
    }
    EXPECT_EQ(refusals(), std::size(cases) + 3);
    EXPECT_FALSE(ImageServices::DecodeBytes(nullptr, 10));
    // The bomb's construction kept under the scan limit is an ordinary picture.
    const auto fine = soft.Render(writeFrame(badjpeg::ProgressiveBomb(800, 600, 90)));
    EXPECT_EQ(fine.value_or(QImage()).size(), QSize(680, 510));
    ActivityLog::Instance().Close();
}

}  // namespace
}  // namespace qv
