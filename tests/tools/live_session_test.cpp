// The headless live session against the simulator: screens stream at the rate asked, a link
// cut in the middle heals by itself, Stop ends it at once, and the user's settings are never
// touched.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>

#include "sim/SimServer.h"
#include "tools/qvctl/LiveSession.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    for (const auto until = Clock::now() + timeout; !pred();) {
        if (Clock::now() >= until) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

TEST(LiveSession, StreamsHealsACutLinkAndStopsAtOnce) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    sim::SimServer sim;
    ASSERT_TRUE(sim.Start("127.0.0.1", 0)) << sim.error();
    const std::uint16_t port = sim.port();

    qvctl::LiveSession::Options options;
    ASSERT_TRUE(qvctl::ParseTarget("127.0.0.1:" + std::to_string(port), options.target));
    options.rate = LiveRate::Fast;
    qvctl::LiveSession live(options);
    std::mutex lock;
    std::vector<std::size_t> sizes;
    std::vector<Clock::time_point> times;
    int ups = 0;
    int losses = 0;
    QObject::connect(&live, &qvctl::LiveSession::connected, [&] { ++ups; });
    QObject::connect(&live, &qvctl::LiveSession::linkLost, [&] { ++losses; });
    ASSERT_TRUE(live.Start([&](std::span<const std::uint8_t> jpeg, Clock::time_point at) {
        std::lock_guard hold(lock);
        // Whole screens only: a JPEG from its start marker to its end marker.
        EXPECT_TRUE(jpeg.size() > 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD8 &&
                    jpeg[jpeg.size() - 2] == 0xFF && jpeg[jpeg.size() - 1] == 0xD9);
        sizes.push_back(jpeg.size());
        times.push_back(at);
    }));
    const auto count = [&] {
        std::lock_guard hold(lock);
        return sizes.size();
    };
    // Fast: far more than the two a second of Normal.
    const auto t0 = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return count() >= 10; }, 3s));
    EXPECT_LT(Clock::now() - t0, 2s);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(live.ModelName(), "QV392B");

    sim.Stop();
    ASSERT_TRUE(WaitFor([&] { return losses == 1; }, 3s));
    const std::size_t before = count();
    ASSERT_TRUE(sim.Start("127.0.0.1", port)) << sim.error();
    ASSERT_TRUE(WaitFor([&] { return ups == 2 && count() > before + 3; }, 10s));

    const auto stopAt = Clock::now();
    live.Stop();
    EXPECT_LT(Clock::now() - stopAt, 1s);
    const std::size_t after = count();
    WaitFor([] { return false; }, 200ms);
    EXPECT_EQ(count(), after) << "nothing after Stop";
    {
        std::lock_guard hold(lock);
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    }
    EXPECT_TRUE(QDir(home.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty())
        << "nothing written in the user's home";
}

// A target nobody listens on: the first connect fails with a reason, nothing streams.
TEST(LiveSession, ATargetThatDoesNotAnswerFails) {
    sim::SimServer sim;
    ASSERT_TRUE(sim.Start("127.0.0.1", 0));
    const std::uint16_t port = sim.port();
    sim.Stop();
    qvctl::LiveSession::Options options;
    ASSERT_TRUE(qvctl::ParseTarget("127.0.0.1:" + std::to_string(port), options.target));
    qvctl::LiveSession live(options);
    QString reason;
    QObject::connect(&live, &qvctl::LiveSession::failed, [&](const QString& r) { reason = r; });
    ASSERT_TRUE(live.Start({}));
    ASSERT_TRUE(WaitFor([&] { return !reason.isEmpty(); }, 5s));
    EXPECT_EQ(reason.toStdString(), "cannot connect to 127.0.0.1 port " + std::to_string(port));
}

}  // namespace
}  // namespace qv::test
