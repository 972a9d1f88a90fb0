// Long run: streaming with key commands against the simulator, a fault injected every few
// minutes, each recovered by Disconnect and Connect. Prints memory over time and the
// recoveries; asserts nothing.
//   soak_bench [--minutes N] [--fault-every SECONDS] [--keys N]
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "bench/BenchSession.h"
#include "bench/BenchStats.h"
#include "panels/FrameRenderer.h"
#include "session/ActivityLog.h"
#include "session/SessionController.h"
#include "sim/SimServer.h"

namespace {

using namespace std::chrono_literals;
using qv::bench::Clock;

qv::sim::SimFaults FaultNumber(int n) {
    qv::sim::SimFaults f;
    switch (n % 5) {
        case 0:
            f.silent = true;
            break;
        case 1:
            f.closeAfterFrames = 3;
            break;
        case 2:
            f.badChecksumEvery = 2;
            break;
        case 3:
            f.skipIndex = true;
            break;
        default:
            f.garbageBeforeFrame = true;
            break;
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int minutes = 30;
    int faultEvery = 180;
    int keyCount = 5000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0) {
            minutes = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--fault-every") == 0) {
            faultEvery = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--keys") == 0) {
            keyCount = std::atoi(argv[i + 1]);
        }
    }
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    qv::sim::SimServer server;
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "soak_bench: %s\n", server.error().c_str());
        return 1;
    }
    qv::SettingsStore store(folder + "/s.ini");
    qv::CDevComm dev;
    dev.SetPort(server.port());
    qv::SessionController session(dev, store, qv::PanelTraits::SoftKey());
    int lost = 0;
    QObject::connect(&session, &qv::SessionController::message,
                     [&](const QString& text) { lost += text == QLatin1String("Disconnected"); });
    session.logFolder = folder;
    session.Create();
    session.SetLink(qv::kMethodTcp, "127.0.0.1", "::1");
    qv::FrameRenderer renderer(true);
    renderer.SetScale(1);
    std::atomic<int> drawn{0};
    session.StartWorkers([&](const std::string& path) {
        const bool ok = renderer.Render(path).has_value();
        drawn += ok;
        return ok;
    });
    qv::bench::ConnectAndWait(session);
    session.Start();

    const auto start = Clock::now();
    const auto end = start + std::chrono::minutes(minutes);
    const auto keyGap =
        std::chrono::milliseconds(std::int64_t{minutes} * 60000) / std::max(keyCount, 1);
    auto nextKey = start;
    auto nextFault = start + std::chrono::seconds(faultEvery);
    auto nextReport = start;
    int faults = 0;
    int recovered = 0;
    int sent = 0;
    bool faulted = false;
    std::printf("soak: %d min, a fault every %d s, %d keys\n", minutes, faultEvery, keyCount);
    while (Clock::now() < end) {
        const auto now = Clock::now();
        if (!session.IsConnectedState()) {
            // Recover as a user would: clear the fault, connect again.
            server.instrument().SetFaults({});
            qv::bench::ConnectAndWait(session);
            if (session.IsConnectedState() && faulted) {
                ++recovered;
                faulted = false;
            }
        }
        if (now >= nextFault) {
            server.instrument().SetFaults(FaultNumber(faults++));
            faulted = true;
            nextFault += std::chrono::seconds(faultEvery);
        }
        while (sent < keyCount && Clock::now() >= nextKey) {
            session.SendKey(sent % 2 ? "KEYP:RIGH" : "KEYP:LEFT");
            ++sent;
            nextKey += keyGap;
        }
        if (now >= nextReport) {
            std::printf("  %5.1f min: %6d frames, %5d keys, RSS %ld KB\n",
                        std::chrono::duration<double>(now - start).count() / 60.0, drawn.load(),
                        sent, qv::bench::RssKb());
            std::fflush(stdout);
            nextReport += std::chrono::minutes(1);
        }
        qv::bench::Pump(100ms);  // the watchdog runs meanwhile
    }
    session.Close();
    server.Stop();
    std::printf(
        "soak: %d frames, %d keys sent, %zu received, %d faults, %d recovered, %d links "
        "lost, final RSS %ld KB\n",
        drawn.load(), sent, static_cast<std::size_t>(server.instrument().CommandCount()), faults,
        recovered, lost, qv::bench::RssKb());
    return 0;
}
