// The live screen path against the simulator: request-to-painted latency split by stage,
// decode and scale cost beside a bare decode, CPU and memory per frame, and key-to-wire
// latency while streaming. Prints figures; asserts nothing.
#include <sys/resource.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "bench/BenchSession.h"
#include "bench/BenchStats.h"
#include "link/CDevComm.h"
#include "panels/FrameRenderer.h"
#include "panels/ImageServices.h"
#include "session/ActivityLog.h"
#include "session/FrameFile.h"
#include "session/ScreenLoop.h"
#include "session/SessionController.h"
#include "sim/SimServer.h"

namespace {

using namespace std::chrono_literals;
using qv::bench::Clock;
using qv::bench::Ms;
using qv::bench::Percentile;

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Row(const char* name, const std::vector<double>& v) {
    std::printf("  %-12s p50 %8.3f ms   p99 %8.3f ms\n", name, Percentile(v, 50),
                Percentile(v, 99));
}

// Request-to-painted, split into its stages.
void Latency(qv::sim::SimServer& server, int height, const std::string& folder) {
    qv::sim::SimInstrument screens(800, height);
    server.instrument().SetScreenOverride(screens.RenderScreen());
    qv::CDevComm dev;
    dev.Init();
    dev.SetAddress("127.0.0.1");
    dev.SetPort(server.port());
    if (!dev.ConnectTcp()) {
        return;
    }
    const std::string path = folder + "/frame.jpg";
    const QSize drawn(800, height == 480 ? 480 : 600);
    QImage window(1023, 720, QImage::Format_RGB32);
    std::vector<double> wire, write, decode, scale, paint, total;
    for (int i = 0; i < 200; ++i) {
        const auto t0 = Clock::now();
        dev.RequestFile(qv::kCmdRequest, qv::REQ_SCREEN, std::string(qv::kScreenFileName),
                        qv::kScreenFileSize);
        int p = 0;
        while ((p = dev.Poll()) >= 0 && p < 100) {
        }
        const auto t1 = Clock::now();
        qv::FileSaveBinary(path, dev.GetData(), static_cast<std::size_t>(dev.GetDataLength()));
        const auto t2 = Clock::now();
        const auto image = qv::ImageServices::DecodeFile(QString::fromStdString(path));
        const auto t3 = Clock::now();
        const QImage scaled = qv::ImageServices::Scaled(*image, drawn, false);
        const auto t4 = Clock::now();
        {
            QPainter painter(&window);
            qv::ImageServices::DrawStretched(painter, QRect(QPoint(111, 25), scaled.size()),
                                             scaled);
        }
        const auto t5 = Clock::now();
        wire.push_back(Ms(t1 - t0));
        write.push_back(Ms(t2 - t1));
        decode.push_back(Ms(t3 - t2));
        scale.push_back(Ms(t4 - t3));
        paint.push_back(Ms(t5 - t4));
        total.push_back(Ms(t5 - t0));
    }
    std::printf("request to painted, 800x%d frames of %d bytes, 200 frames\n", height,
                dev.GetDataLength());
    Row("wire", wire);
    Row("file write", write);
    Row("decode", decode);
    Row("scale", scale);
    Row("paint", paint);
    Row("total", total);
    dev.Disconnect();
}

void DecodeAndScale() {
    qv::sim::SimInstrument screens(800, 600);
    const auto jpeg = screens.RenderScreen();
    std::vector<double> bare, s85, s70;
    for (int i = 0; i < 200; ++i) {
        auto t0 = Clock::now();
        QImage image;
        image.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPG");
        bare.push_back(Ms(Clock::now() - t0));
        for (const auto& [scale, out] : {std::pair{0.85, &s85}, std::pair{0.70, &s70}}) {
            t0 = Clock::now();
            const auto decoded = qv::ImageServices::DecodeBytes(jpeg.data(), jpeg.size());
            const QImage scaled = qv::ImageServices::Scaled(
                *decoded, QSize(static_cast<int>(800 * scale), static_cast<int>(600 * scale)),
                true);
            out->push_back(Ms(Clock::now() - t0));
        }
    }
    std::printf("decode + high-quality scale of an 800x600 frame (%zu bytes)\n", jpeg.size());
    Row("bare decode", bare);
    Row("at 0.85", s85);
    Row("at 0.70", s70);
}

// The whole cycle without its pacing: CPU per frame and memory after 1,000 frames.
void CyclesAndKeys(qv::sim::SimServer& server, const std::string& folder) {
    qv::sim::SimInstrument screens(800, 600);
    server.instrument().SetScreenOverride(screens.RenderScreen());
    qv::SettingsStore store(folder + "/s.ini");
    qv::CDevComm dev;
    dev.SetPort(server.port());
    qv::SessionController session(dev, store, qv::PanelTraits::SoftKey());
    session.logFolder = folder;
    session.Create();
    session.SetLink(qv::kMethodTcp, "127.0.0.1", "::1");
    // The writer for the keys; the session's own loop adds two exchanges a second.
    session.StartWorkers({});
    if (!qv::bench::ConnectAndWait(session)) {
        std::printf("cycles: cannot connect\n");
        return;
    }
    qv::FrameFile frames;
    qv::ScreenLoop loop(dev, session, frames, true);
    qv::FrameRenderer renderer(true);
    renderer.SetScale(1);
    int drawn = 0;
    loop.draw = [&](const std::string& path) { return renderer.Render(path) && ++drawn; };
    session.Start();
    frames.Begin();
    long rss100 = 0;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    for (int i = 1; i <= 1000; ++i) {
        loop.RunCycle();
        if (i == 100) {
            rss100 = qv::bench::RssKb();
        }
    }
    const double cpu = CpuSeconds() - cpu0;
    std::printf(
        "1,000 whole cycles at 85 %% (wire, file, decode, scale, scaled copy): %d drawn,"
        " %.2f ms CPU per frame (simulator included), %.2f ms wall per frame\n",
        drawn, cpu * 1000.0 / 1000, Ms(Clock::now() - t0) / 1000);
    std::printf("  RSS after 100 frames %ld KB, after 1,000 frames %ld KB\n", rss100,
                qv::bench::RssKb());

    // Key to wire while a screen exchange runs all the time.
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        while (!stop.load()) {
            loop.RunCycle();
        }
    });
    std::vector<double> toWire;
    for (int i = 0; i < 200; ++i) {
        server.instrument().ClearRecords();
        const auto sent = Clock::now();
        session.SendKey("KEYP:NUM" + std::to_string(i % 10));
        if (!server.instrument().WaitForCommands(1, 2s)) {
            break;
        }
        toWire.push_back(Ms(server.instrument().Commands()[0].at - sent));
        std::this_thread::sleep_for(2ms);
    }
    stop = true;
    streaming.join();
    std::printf("key to wire while streaming, 200 keys\n");
    Row("SendKey", toWire);
    session.Close();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    qv::ActivityLog::Instance().Open(folder);
    qv::sim::SimServer server;
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "stream_bench: %s\n", server.error().c_str());
        return 1;
    }
    Latency(server, 480, folder);
    Latency(server, 600, folder);
    DecodeAndScale();
    CyclesAndKeys(server, folder);
    server.Stop();
    return 0;
}
