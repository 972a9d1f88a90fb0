// The self-healing link: how long after the instrument comes back the first new frame is
// drawn, over a number of outages of different lengths, beside the back-off step that was in
// force. Prints figures; asserts nothing.
//   heal_bench [--outages N]
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "bench/BenchSession.h"
#include "bench/BenchStats.h"
#include "session/SessionController.h"
#include "sim/SimServer.h"

using namespace std::chrono_literals;
using qv::bench::Clock;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int outages = 20;
    if (argc == 3 && std::strcmp(argv[1], "--outages") == 0) {
        outages = std::max(1, std::atoi(argv[2]));
    }
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    qv::sim::SimServer server;
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "heal_bench: %s\n", server.error().c_str());
        return 1;
    }
    const std::uint16_t port = server.port();
    qv::SettingsStore store(folder + "/s.ini");
    qv::CDevComm dev;
    dev.SetPort(port);
    qv::SessionController session(dev, store, qv::PanelTraits::SoftKey());
    session.logFolder = folder;
    session.Create();
    session.SetLink(qv::kMethodTcp, "127.0.0.1", "::1");
    std::atomic<int> drawn{0};
    session.StartWorkers([&](const std::string&) {
        ++drawn;
        return true;
    });
    if (!qv::bench::ConnectAndWait(session)) {
        std::fprintf(stderr, "heal_bench: cannot connect\n");
        return 1;
    }
    session.Start();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> downMs(300, 6000);
    std::vector<double> back;
    std::vector<double> noticed;
    std::printf("outage  down s  noticed ms  attempt  wait s  back to frame ms\n");
    for (int i = 0; i < outages; ++i) {
        const int before = drawn.load();
        while (drawn.load() == before) {
            qv::bench::Pump(20ms);
        }
        server.Stop();
        const auto gone = Clock::now();
        while (session.linkState() != qv::LinkState::Reconnecting && Clock::now() < gone + 5s) {
            qv::bench::Pump(1ms);
        }
        const double noticedMs = qv::bench::Ms(Clock::now() - gone);
        noticed.push_back(noticedMs);
        const int down = downMs(random);
        qv::bench::Pump(std::chrono::milliseconds(down) -
                        std::chrono::milliseconds(int(noticedMs)));
        const int attempt = session.ReconnectAttempt();
        const int units = qv::SessionController::ReconnectDelayUnits(std::max(0, attempt - 1));
        if (!server.Start("127.0.0.1", port)) {
            std::fprintf(stderr, "heal_bench: %s\n", server.error().c_str());
            return 1;
        }
        const auto up = Clock::now();
        const int seen = drawn.load();
        const auto until = up + 60s;
        while (drawn.load() == seen && Clock::now() < until) {
            qv::bench::Pump(5ms);
        }
        const double ms = qv::bench::Ms(Clock::now() - up);
        back.push_back(ms);
        std::printf("%6d  %6.1f  %10.0f  %7d  %6d  %16.0f\n", i + 1, down / 1000.0, noticedMs,
                    attempt, units, ms);
    }
    std::printf(
        "back to the first new frame over %d outages: p50 %.0f ms, p90 %.0f ms, max %.0f ms\n",
        outages, qv::bench::Percentile(back, 50), qv::bench::Percentile(back, 90),
        qv::bench::Percentile(back, 100));
    session.Close();
    server.Stop();
    return 0;
}
