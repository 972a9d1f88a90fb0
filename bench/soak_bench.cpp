// Long run: streaming with key commands against the simulator, an outage injected every few
// minutes and cleared after a while. The link heals itself; what is counted comes from the
// session's own state signal: losses (Connected -> Reconnecting), heals (Reconnecting ->
// Connected), links given up (Disconnected, then connected again by hand as a user would),
// keys refused while healing, and the longest gap between drawn frames. Prints memory over
// time; asserts nothing.
//   soak_bench [--minutes N | --seconds N] [--fault-every SECONDS] [--outage SECONDS]
//              [--keys N]
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "bench/BenchSession.h"
#include "bench/BenchStats.h"
#include "panels/FrameRenderer.h"
#include "session/SessionController.h"
#include "sim/SimServer.h"

namespace {

using namespace std::chrono_literals;
using qv::LinkState;
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

const char* FaultName(int n) {
    static const char* const names[] = {"silent", "close after 3 frames", "bad checksum",
                                        "skipped index", "garbage before frame"};
    return names[n % 5];
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Times of the frames drawn, kept by the screen loop's thread.
class FrameTimes {
  public:
    void Add(Clock::time_point t) {
        std::lock_guard lock(lock_);
        times_.push_back(t);
    }
    std::vector<Clock::time_point> Copy() {
        std::lock_guard lock(lock_);
        return times_;
    }

  private:
    std::mutex lock_;
    std::vector<Clock::time_point> times_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 30 * 60;
    int faultEvery = 180;
    int outage = 5;
    int keyCount = 5000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--minutes") == 0) {
            seconds = value * 60;
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = value;
        } else if (std::strcmp(argv[i], "--fault-every") == 0) {
            faultEvery = value;
        } else if (std::strcmp(argv[i], "--outage") == 0) {
            outage = value;
        } else if (std::strcmp(argv[i], "--keys") == 0) {
            keyCount = value;
        } else {
            std::fprintf(stderr, "soak_bench: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (seconds <= 0 || faultEvery <= 0 || outage < 0 || keyCount < 0) {
        std::fprintf(stderr, "soak_bench: durations and counts must be positive\n");
        return 2;
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

    const auto start = Clock::now();
    LinkState state = session.linkState();
    int losses = 0;
    int heals = 0;
    int givenUp = 0;
    Clock::time_point lostAt{};
    std::vector<double> healTimes;
    QObject::connect(&session, &qv::SessionController::stateChanged, [&] {
        const LinkState now = session.linkState();
        if (now == state) {
            return;
        }
        if (now == LinkState::Reconnecting && state == LinkState::Connected) {
            ++losses;
            lostAt = Clock::now();
        } else if (now == LinkState::Connected && state == LinkState::Reconnecting) {
            ++heals;
            healTimes.push_back(Seconds(Clock::now() - lostAt));
        } else if (now == LinkState::Disconnected && state != LinkState::Connecting) {
            ++givenUp;
        }
        state = now;
    });
    session.logFolder = folder;
    session.Create();
    session.SetLink(qv::kMethodTcp, "127.0.0.1", "::1");
    qv::FrameRenderer renderer(true);
    renderer.SetScale(1);
    std::atomic<int> drawn{0};
    FrameTimes frames;
    session.StartWorkers([&](const std::string& path) {
        const bool ok = renderer.Render(path).has_value();
        if (ok) {
            ++drawn;
            frames.Add(Clock::now());
        }
        return ok;
    });
    if (!qv::bench::ConnectAndWait(session)) {
        std::fprintf(stderr, "soak_bench: no link to the simulator\n");
        return 1;
    }
    session.Start();

    const auto end = start + std::chrono::seconds(seconds);
    const auto keyGap =
        std::chrono::milliseconds(std::int64_t{seconds} * 1000) / std::max(keyCount, 1);
    auto nextKey = start;
    auto nextFault = start + std::chrono::seconds(faultEvery);
    auto nextReport = start;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> outages;
    int faults = 0;
    bool faulted = false;
    int sent = 0;
    int refused = 0;      // while the link healed: the session drops them by design
    int unconnected = 0;  // while connecting by hand after a link was given up
    std::printf("soak: %d s, an outage every %d s lasting %d s, %d keys\n", seconds, faultEvery,
                outage, keyCount);
    while (Clock::now() < end) {
        const auto now = Clock::now();
        if (faulted && now >= outages.back().first + std::chrono::seconds(outage)) {
            server.instrument().SetFaults({});
            outages.back().second = now;
            faulted = false;
        }
        if (session.linkState() == LinkState::Disconnected) {
            // Given up (not healed): connect again by hand, as a user would.
            server.instrument().SetFaults({});
            if (qv::bench::ConnectAndWait(session)) {
                session.Start();
            }
        }
        if (now >= nextFault) {
            std::printf("  %5.1f min: outage %d (%s)\n", Seconds(now - start) / 60.0, faults + 1,
                        FaultName(faults));
            server.instrument().SetFaults(FaultNumber(faults++));
            outages.emplace_back(now, end);
            faulted = true;
            nextFault += std::chrono::seconds(faultEvery);
        }
        while (sent < keyCount && Clock::now() >= nextKey) {
            const LinkState at = session.linkState();
            refused += at == LinkState::Reconnecting;
            unconnected += at == LinkState::Connecting || at == LinkState::Disconnected;
            session.SendKey(sent % 2 ? "KEYP:RIGH" : "KEYP:LEFT");
            ++sent;
            nextKey += keyGap;
        }
        if (now >= nextReport) {
            std::printf("  %5.1f min: %6d frames, %5d keys, RSS %ld KB\n",
                        Seconds(now - start) / 60.0, drawn.load(), sent, qv::bench::RssKb());
            std::fflush(stdout);
            nextReport += std::chrono::minutes(1);
        }
        qv::bench::Pump(100ms);  // the watchdog runs meanwhile
    }
    session.WaitCommandsSent(5s);
    session.Close();
    // Every command received, not only the ones the record still holds.
    const auto received = static_cast<std::size_t>(server.instrument().CommandCount());
    server.Stop();

    // The longest gap between frames, and the longest one that no outage began in.
    const auto times = frames.Copy();
    Clock::duration longest{};
    Clock::duration steady{};
    for (std::size_t i = 1; i < times.size(); ++i) {
        const auto gap = times[i] - times[i - 1];
        longest = std::max(longest, gap);
        const bool outageInside = std::any_of(outages.begin(), outages.end(), [&](const auto& o) {
            return o.first >= times[i - 1] && o.first < times[i];
        });
        if (!outageInside) {
            steady = std::max(steady, gap);
        }
    }
    std::sort(healTimes.begin(), healTimes.end());
    std::printf("soak: %d frames, longest gap %.2f s (%.2f s outside outages)\n", drawn.load(),
                Seconds(longest), Seconds(steady));
    std::printf(
        "soak: %d outages, %d links lost, %d healed (loss to link up: p50 %.1f s, max "
        "%.1f s), %d given up and connected again by hand\n",
        faults, losses, heals, qv::bench::Percentile(healTimes, 50),
        healTimes.empty() ? 0.0 : healTimes.back(), givenUp);
    std::printf(
        "soak: %d keys, %d refused while healing, %d while connecting, %zu received by "
        "the instrument (%d lost while connected)\n",
        sent, refused, unconnected, received,
        sent - refused - unconnected - static_cast<int>(received));
    std::printf("soak: final RSS %ld KB\n", qv::bench::RssKb());
    return 0;
}
