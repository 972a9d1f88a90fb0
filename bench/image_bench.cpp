// What a bad screen costs the screen worker: each hostile image refused through the frame
// decode, beside the decode of a normal 800x480 frame, and what Qt alone would spend on it.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "bench/BenchStats.h"
#include "panels/ImageServices.h"
#include "session/JpegMarkers.h"
#include "sim/SimInstrument.h"
#include "tests/panels/BadJpegs.h"

namespace {

using qv::bench::Clock;
using qv::bench::Ms;
using qv::bench::Percentile;

struct Case {
    const char* name;
    QByteArray bytes;
    int runs;
};

QString WriteFile(const QTemporaryDir& dir, const QByteArray& bytes) {
    const QString path = dir.filePath(QStringLiteral("20261206_101010_123.jpg"));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

void Row(const Case& c, const QTemporaryDir& dir) {
    const QString path = WriteFile(dir, c.bytes);
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.constData());
    const auto size = static_cast<std::size_t>(c.bytes.size());
    const qv::JpegLayout layout = qv::WalkJpegMarkers(data, size, qv::ImageServices::kLimits);
    std::vector<double> walk, decode;
    bool accepted = false;
    for (int i = 0; i < c.runs; ++i) {
        auto t0 = Clock::now();
        const auto again = qv::WalkJpegMarkers(data, size, qv::ImageServices::kLimits);
        walk.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        const auto image = qv::ImageServices::DecodeFile(path);
        decode.push_back(Ms(Clock::now() - t0));
        accepted = image.has_value() && again.ok();
    }
    std::printf(
        "  %-28s %7lld B  %-14s scans %5u  walk p50 %8.3f ms  decode p50 %8.3f  p99 %8.3f ms  %s\n",
        c.name, static_cast<long long>(c.bytes.size()), qv::VerdictName(layout.verdict),
        layout.scans, Percentile(walk, 50), Percentile(decode, 50), Percentile(decode, 99),
        accepted ? "shown" : "refused");
}

// Qt by itself, guessing the format as the frame decode used to.
void QtAlone(const Case& c) {
    const auto t0 = Clock::now();
    const QImage image = QImage::fromData(c.bytes);
    std::printf("  %-28s Qt alone %9.1f ms  %s\n", c.name, Ms(Clock::now() - t0),
                image.isNull() ? "refused" : "drawn");
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        return 1;
    }
    namespace bad = qv::badjpeg;
    const std::vector<std::uint8_t> screen = qv::sim::SimInstrument(800, 480).RenderScreen();
    const Case normal{"normal 800x480 frame",
                      QByteArray(reinterpret_cast<const char*>(screen.data()),
                                 static_cast<qsizetype>(screen.size())),
                      200};
    const Case cases[] = {
        normal,
        {"progressive bomb 10,000", bad::ProgressiveBomb(800, 480, 10000), 50},
        {"60000x60000 header", bad::HugeHeader(60000, 60000), 50},
        {"truncated 800x480", bad::Truncated(800, 480), 50},
        {"PNG 800x480", bad::Encode(bad::Screen(800, 480), "png"), 50},
        // The dearest frames still accepted: a screen at the scan limit, the largest size at
        // the limit of scans times pixels.
        {"dearest 800x600, 100 scans", bad::ProgressiveBomb(800, 600, 90), 20},
        {"dearest 1600x1200, 25 scans", bad::ProgressiveBomb(1600, 1200, 15), 20},
    };
    std::printf(
        "frame decode from its file (walk, then Qt's JPEG decoder); limits: %d scans, "
        "%lld pixels, %d per side, %lld scans x pixels\n",
        qv::ImageServices::kMaxScans, static_cast<long long>(qv::ImageServices::kMaxPixels),
        qv::ImageServices::kMaxSide, static_cast<long long>(qv::ImageServices::kMaxScanPixels));
    for (const Case& c : cases) {
        Row(c, dir);
    }
    std::printf("the same bytes given to Qt alone (format guessed, no walk), once each\n");
    for (const Case& c : cases) {
        QtAlone(c);
    }
    return 0;
}
