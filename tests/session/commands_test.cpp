// Pure pieces of the session: the touch commands, the controls by state, and the screen
// loop's pace at each live rate on a clock the test moves; the command writer's queue full.
#include "session/Commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "session/CommandWriter.h"
#include "session/Controls.h"
#include "session/LivePacing.h"

namespace qv {
namespace {

TEST(Controls, ClicksOnTheScreenBecomeCommands) {
    // The soft-key screen at (41, 39), drawn 800 x 600, 680 x 510 or 559 x 419.
    const ScreenRect soft[] = {{41, 39, 841, 639}, {41, 39, 721, 549}, {41, 39, 600, 458}};
    const ScreenRect hard{111, 25, 911, 505}, hidden{0, 0, 800, 480};
    struct Case {
        int scale;  // -1: hard-key panel, -2: hard-key panel in screen mode
        int x, y;
        const char* expected;  // "": outside the picture
    };
    const Case cases[] = {
        {0, 41 + 400, 39 + 300, "KEYP 400,300"},
        // 0.85 in single precision lies just above 0.85: 340 / 0.85f is 399.99998.
        {1, 41 + 340, 39 + 255, "KEYP 399,299"},
        {1, 41 + 341, 39 + 256, "KEYP 401,301"},
        {2, 41 + 558, 39, "KEYP 797,0"},  // the 70 % frame's last column
        {2, 41 + 559, 39, ""},
        {2, 41 + 7, 39 + 7, "KEYP 10,10"},
        {0, 41 + 10, 39 + 600, ""},
        {0, 40, 100, ""},
        {-1, 111 + 5, 25 + 6, "KEYP 5,6"},
        {-2, 30, 40, "KEYP 30,40"},
        {-1, 911, 100, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scale << " " << c.x << "," << c.y);
        const ScreenRect& screen = c.scale == -1 ? hard : c.scale == -2 ? hidden : soft[c.scale];
        ASSERT_EQ(screen.Contains(c.x, c.y), *c.expected != '\0');
        if (*c.expected != '\0') {
            EXPECT_EQ(c.scale < 0 ? HardKeyTouch(c.x, c.y, screen)
                                  : SoftKeyTouch(c.x, c.y, screen, c.scale),
                      c.expected);
        }
    }
    // Far clicks are held to the screen: at 70 % 561 px would be 801.
    const ScreenRect wide{0, 0, 2000, 2000};
    EXPECT_EQ(SoftKeyTouch(560, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(SoftKeyTouch(561, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(SoftKeyTouch(0, 421, wide, 2), "KEYP 0,600");
    EXPECT_EQ(SoftKeyTouch(-5, -5, soft[0], 0), "KEYP 0,0");
}

// Every control by the session's state, as the menus and keys are meant to be: the first three
// rows are the menu tables of both panels, the rest what the link's own states add.
TEST(Controls, EveryControlFollowsTheState) {
    using L = LinkState;
    struct Row {
        L link;
        bool streaming;
        bool framesMayFollow;
        const char* enabled;
        const char* checked;  // Connect, Disconnect, Start, Stop
    };
    // Enabled, in groups: Connect, Disconnect, Start, Stop | keys and knob, quality | Record |
    // live rate, scale, the items always there.
    const Row rows[] = {
        {L::Disconnected, false, false, "1000 00 0 111", "0101"},
        {L::Connected, false, false, "0110 01 0 111", "1001"},
        {L::Connected, true, true, "0001 11 1 111", "1010"},
        // Connect cancels the attempt under way.
        {L::Connecting, false, false, "1000 00 0 111", "0101"},
        // A loss that does not heal leaves the keys as they were; nothing more streams.
        {L::Disconnected, true, false, "1000 10 0 111", "0110"},
        // Healing: Disconnect and Stop end it, the keys send nothing, a recording waits.
        {L::Reconnecting, true, true, "0101 00 0 111", "0110"},
        {L::Reconnecting, false, false, "0100 00 0 111", "0101"},
    };
    const auto bits = [](std::initializer_list<bool> flags) {
        std::string out;
        for (const bool f : flags) {
            out += f ? '1' : '0';
        }
        return out;
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(r.link) << " streaming " << r.streaming);
        const ControlStates c = ControlsFor(r.link, r.streaming, true);
        std::string enabled = r.enabled;
        std::erase(enabled, ' ');
        EXPECT_EQ(bits({c.connect.enabled, c.disconnect.enabled, c.start.enabled, c.stop.enabled,
                        c.keys, c.quality, c.record, c.liveRate, c.scale, c.always}),
                  enabled);
        EXPECT_EQ(bits({c.connect.checked, c.disconnect.checked, c.start.checked, c.stop.checked}),
                  r.checked);
        EXPECT_EQ(c.connectCancels, r.link == L::Connecting);
        EXPECT_EQ(FramesMayFollow(r.link, r.streaming), r.framesMayFollow);
    }
    EXPECT_FALSE(ControlsFor(L::Disconnected, false, false).connect.enabled) << "no sockets";
}

using namespace std::chrono_literals;
using Clock = LivePacing::Clock;
using ms = std::chrono::milliseconds;

const Clock::time_point kT0 = Clock::time_point{} + 1000s;

// Runs a loop the way the screen loop does: wait for the turn (a command may bring it
// forward), run it for its duration (commands may arrive meanwhile), report it.
struct Driver {
    Driver(bool softKey, LiveRate rate) : pacing(softKey, kT0) { pacing.SetRate(rate); }

    // commands: times from kT0, ascending. Runs until a turn would start after `until`.
    void Run(const std::vector<ms>& commands, ms until,
             const std::function<ms(std::size_t)>& duration, bool exchanged = true) {
        std::size_t next = 0;
        for (Clock::time_point now = kT0;;) {
            Clock::time_point turn = std::max(now, pacing.NextTurn());
            while (next < commands.size() && kT0 + commands[next] < turn) {
                now = std::max(now, kT0 + commands[next++]);
                pacing.CommandWritten(now);
                turn = std::max(now, pacing.NextTurn());
            }
            if (turn - kT0 > until) {
                return;
            }
            const Clock::time_point end = turn + duration(starts.size());
            while (next < commands.size() && kT0 + commands[next] < end) {
                pacing.CommandWritten(std::max(turn, kT0 + commands[next++]));
            }
            if (pacing.IsEarly(turn)) {
                early.push_back(starts.size());
            }
            starts.push_back(std::chrono::duration_cast<ms>(turn - kT0));
            pacing.TurnDone(turn, end, exchanged);
            now = end;
        }
    }

    LivePacing pacing;
    std::vector<ms> starts;
    std::vector<std::size_t> early;  // indices of the early turns
};

// Turn starts for given commands and exchange times (the last one repeats).
TEST(LivePacing, TurnsAtEachRateAndResponsiveLimitsHoldForAnyCommands) {
    struct Case {  // NOLINT(clang-analyzer-optin.performance.Padding): in the rows' order
        const char* name;
        bool softKey;
        LiveRate rate;
        std::vector<ms> commands, durations, starts;
        std::vector<std::size_t> early = {};  // indices of the early turns
        bool exchanged = true;
    };
    using enum LiveRate;
    const std::vector<ms> keys{40ms, 45ms, 600ms, 790ms, 1010ms};
    const std::vector<ms> burst{100ms, 120ms, 140ms, 160ms, 180ms,
                                200ms, 220ms, 240ms, 260ms, 280ms};
    const std::vector<ms> fourthSlow{10ms, 10ms, 10ms, 100ms, 10ms};
    const Case cases[] = {
        // Normal: a long exchange is followed at once (hard-key panel) or 300 ms into the
        // cycle that begins when it ends (soft-key panel); commands change nothing.
        {"hard", false, Normal, keys, {20ms}, {0ms, 501ms, 1002ms, 1503ms}},
        {"hard 750", false, Normal, keys, {750ms}, {0ms, 750ms, 1500ms}},
        {"soft", true, Normal, keys, {20ms}, {300ms, 801ms, 1302ms}},
        {"soft 750", true, Normal, keys, {750ms}, {300ms, 1350ms}},
        {"normal key", false, Normal, {480ms}, {20ms}, {0ms, 501ms, 1002ms}},
        // Responsive: a key shown 80 ms after it, then a period on.
        {"key hard", false, Responsive, {100ms}, {20ms}, {0ms, 180ms, 681ms, 1182ms}, {1}},
        {"key soft", true, Responsive, {400ms}, {20ms}, {300ms, 480ms, 981ms, 1482ms}, {1}},
        // The rest of a burst waits for the regular turn a period after the early one.
        {"burst", false, Responsive, burst, {20ms}, {0ms, 180ms, 681ms, 1182ms}, {1}},
        // A regular turn due while a command settles waits for it: one exchange shows it.
        {"key near a turn", false, Responsive, {480ms}, {20ms}, {0ms, 560ms, 1061ms}},
        // Fast: the next starts when the last ends, at least 40 ms after it began.
        {"fast", true, Fast, {}, fourthSlow, {0ms, 40ms, 80ms, 120ms, 220ms, 260ms, 300ms}},
        // With remote control off the loop only looks, every 100 ms.
        {"fast idle", false, Fast, {}, {1ms}, {0ms, 100ms, 200ms, 300ms}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Driver d(c.softKey, c.rate);
        const auto length = [&](std::size_t i) {
            return c.durations[std::min(i, c.durations.size() - 1)];
        };
        d.Run(c.commands, c.starts.back(), length, c.exchanged);
        EXPECT_EQ(d.starts, c.starts);
        EXPECT_EQ(d.early, c.early);
    }
    // Whatever the commands and however long the exchanges: no window of a second holds four
    // starts, early turns are a period apart, and every command is followed by a turn that began at
    // least 80 ms after it, within a bounded time.
    std::mt19937 random(20261207);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        std::vector<ms> commands;
        std::uniform_int_distribution<int> gap(0, round % 4 == 0 ? 120 : 900);
        for (ms t = 0ms; t < 60s;) {
            t += ms(gap(random));
            commands.push_back(t);
        }
        std::uniform_int_distribution<int> length(1, 60);
        std::uniform_int_distribution<int> slow(0, 30);
        Driver d(round % 2 == 1, LiveRate::Responsive);
        d.Run(commands, 61s,
              [&](std::size_t) { return slow(random) == 0 ? 700ms : ms(length(random)); });
        const auto& starts = d.starts;
        ASSERT_GT(starts.size(), 100u);
        for (std::size_t i = 3; i < starts.size(); ++i) {
            ASSERT_GT(starts[i] - starts[i - 3], 1000ms);
        }
        for (std::size_t i = 1; i < d.early.size(); ++i) {
            ASSERT_GE(starts[d.early[i]] - starts[d.early[i - 1]], LivePacing::kPeriod);
        }
        for (const ms c : commands) {
            if (c > 58s) {
                break;
            }
            const auto shown = std::lower_bound(starts.begin(), starts.end(), c + 80ms);
            ASSERT_NE(shown, starts.end());
            // At worst the early slot is used up and a slow exchange runs: two periods on.
            EXPECT_LE(*shown - c, 80ms + 2 * LivePacing::kPeriod + 700ms);
        }
    }
}

// A link that does not take the line being sent: the queue fills to exactly its size, the
// next line is refused, and every line it took goes out, in order, once the link moves.
TEST(CommandWriter, AQueueExactlyFullRefusesTheNextLineAndLosesNoneItTook) {
    std::promise<void> entered, moves;
    const std::shared_future<void> moved = moves.get_future().share();
    std::vector<std::string> sent;  // the writer's until it is stopped
    std::atomic<int> failed{0};
    CommandWriter writer(
        [&](const std::string& line) {
            sent.push_back(line);
            if (sent.size() == 1) {
                entered.set_value();
                moved.wait_for(10s);  // held until the queue is full, never for good
            }
            return true;
        },
        [&] { ++failed; }, 0ms);
    ASSERT_TRUE(writer.Start());
    ASSERT_TRUE(writer.Push("held"));
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    for (std::size_t i = 0; i < CommandWriter::kMaxWaiting; ++i) {
        EXPECT_TRUE(writer.Push("KEYP:" + std::to_string(i))) << i;
    }
    EXPECT_FALSE(writer.Push("KEYP:MODE"));
    moves.set_value();
    ASSERT_TRUE(writer.WaitIdle(10s));
    writer.Stop();
    ASSERT_EQ(sent.size(), CommandWriter::kMaxWaiting + 1);
    for (std::size_t i = 0; i < CommandWriter::kMaxWaiting; ++i) {
        EXPECT_EQ(sent[i + 1], "KEYP:" + std::to_string(i));
    }
    EXPECT_EQ(failed.load(), 0);
}

}  // namespace
}  // namespace qv
