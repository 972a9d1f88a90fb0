// Recordings to video files: a recording of the simulator's 800x600 screens (two a second,
// named as the window names them) exported to .mkv and .mp4, each in a child process of its
// own so its peak memory is its own. Frames per second and peak RSS, for the whole recording
// and a quarter of it: flat memory means the two peaks are alike.
//   export_bench [--frames N] [--preset P]...   (default 1000 frames; the writer's preset)
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/Exporter.h"
#include "sim/SimScreen.h"
#include "tests/media/MediaProbe.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
    bool ok = false;
    double seconds = 0;
    int frames = 0;
    long peakKb = 0;
    std::uint64_t bytes = 0;
};

// One export in a child: its time, frames and peak resident memory.
Figures ExportInChild(const std::string& folder, const std::string& out,
                      const std::string& preset) {
    const auto bytes = qv::test::InChild([&] {
        qv::media::ExportOptions options;
        options.replace = true;
        options.mp4Preset = preset;
        const auto t0 = Clock::now();
        const qv::media::ExportResult r = qv::media::ExportRecording(folder, out, options);
        Figures f;
        f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        f.ok = r.ok();
        f.frames = r.frames;
        f.bytes = r.bytes;
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        f.peakKb = usage.ru_maxrss;
        return std::string(reinterpret_cast<const char*>(&f), sizeof f);
    });
    Figures f;
    if (bytes && bytes->size() == sizeof f) {
        std::memcpy(&f, bytes->data(), sizeof f);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int frames = 1000;
    std::vector<std::string> presets;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--frames") {
            frames = std::max(4, std::atoi(argv[i + 1]));
        } else if (option == "--preset") {
            presets.emplace_back(argv[i + 1]);
        }
    }
    if (presets.empty()) {
        presets.emplace_back();
    }
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    const fs::path whole = root / "rec_20261207_100000";
    const fs::path quarter = root / "rec_20261207_100000_quarter";
    fs::create_directories(whole);
    fs::create_directories(quarter);

    // The instrument's screens move with every frame (noise), as a live trace does.
    qv::sim::SimScreen screen(800, 600);
    std::uint64_t total = 0;
    const auto r0 = Clock::now();
    for (int i = 0; i < frames; ++i) {
        const auto jpeg = screen.Render();
        total += jpeg.size();
        const std::string name = qv::test::RecordedName(i + 1, 10LL * 3600 * 1000 + 500LL * i);
        std::ofstream(whole / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()),
                   static_cast<std::streamsize>(jpeg.size()));
        if (i < frames / 4) {
            fs::create_hard_link(whole / name, quarter / name);
        }
    }
    std::printf("recording: %d frames 800x600, %.1f MB of JPEG (%.0f KB each), made in %.1f s\n",
                frames, static_cast<double>(total) / 1048576.0,
                static_cast<double>(total) / frames / 1024.0,
                std::chrono::duration<double>(Clock::now() - r0).count());
    std::printf("cores: %ld\n", ::sysconf(_SC_NPROCESSORS_ONLN));

    struct Run {
        const char* ext;
        std::string preset;
    };
    std::vector<Run> runs{{".mkv", ""}};
    for (const auto& p : presets) {
        runs.push_back({".mp4", p});
    }
    for (const Run& run : runs) {
        const std::string label =
            std::string(run.ext) + (run.preset.empty() ? "" : " (preset " + run.preset + ")");
        const Figures q = ExportInChild(quarter, root / (std::string("q") + run.ext), run.preset);
        const Figures f = ExportInChild(whole, root / (std::string("w") + run.ext), run.preset);
        if (!f.ok || !q.ok) {
            std::printf("%-24s export failed\n", label.c_str());
            continue;
        }
        std::printf(
            "%-24s %5d frames in %6.2f s: %8.1f frames/s, %6.1f MB; peak RSS %ld KB "
            "(%d frames: %ld KB)\n",
            label.c_str(), f.frames, f.seconds, f.frames / f.seconds,
            static_cast<double>(f.bytes) / 1048576.0, f.peakKb, q.frames, q.peakKb);
    }
    return 0;
}
