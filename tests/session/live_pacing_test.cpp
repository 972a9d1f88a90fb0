// The screen loop's pace at each live rate, on a clock the test moves: Normal's cycles of more
// than 500 ms with the soft-key panel's 300 ms offset, Responsive's quick refresh 80 ms after
// a command with its limits (one early exchange per cycle, no second with more than three),
// Fast's back-to-back exchanges at least 40 ms apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "session/LivePacing.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = LivePacing::Clock;
using ms = std::chrono::milliseconds;

const Clock::time_point kT0 = Clock::time_point{} + 1000s;

ms At(Clock::time_point t) {
    return std::chrono::duration_cast<ms>(t - kT0);
}

// Runs a loop the way the screen loop does: wait for the turn (a command may bring it
// forward), run it for its duration (commands may arrive meanwhile), report it.
struct Driver {
    Driver(bool softKey, LiveRate rate) : pacing(softKey, kT0) { pacing.SetRate(rate); }

    struct Turn {
        ms start;
        ms end;
        bool early;
    };

    // commands: times from kT0, ascending. duration(i): how long turn i runs. Runs until a
    // turn would start after `until`.
    void Run(
        const std::vector<ms>& commands, ms until,
        const std::function<ms(std::size_t)>& duration = [](std::size_t) { return 20ms; },
        bool exchanged = true) {
        std::size_t next = 0;
        Clock::time_point now = kT0;
        for (;;) {
            Clock::time_point turn = std::max(now, pacing.NextTurn());
            while (next < commands.size() && kT0 + commands[next] < turn) {
                now = std::max(now, kT0 + commands[next++]);
                pacing.CommandWritten(now);
                turn = std::max(now, pacing.NextTurn());
            }
            if (At(turn) > until) {
                return;
            }
            const Clock::time_point end = turn + duration(turns.size());
            while (next < commands.size() && kT0 + commands[next] < end) {
                pacing.CommandWritten(std::max(turn, kT0 + commands[next++]));
            }
            turns.push_back({At(turn), At(end), pacing.IsEarly(turn)});
            pacing.TurnDone(turn, end, exchanged);
            now = end;
        }
    }

    std::vector<ms> Starts() const {
        std::vector<ms> out;
        for (const Turn& t : turns) {
            out.push_back(t.start);
        }
        return out;
    }

    LivePacing pacing;
    std::vector<Turn> turns;
};

TEST(LivePacing, StoredValues) {
    EXPECT_EQ(LiveRateOf(0), LiveRate::Normal);
    EXPECT_EQ(LiveRateOf(1), LiveRate::Responsive);
    EXPECT_EQ(LiveRateOf(2), LiveRate::Fast);
    EXPECT_EQ(LiveRateOf(3), LiveRate::Normal);
    EXPECT_EQ(LiveRateOf(-1), LiveRate::Normal);
}

// Cycles of more than 500 ms; a long exchange is followed at once (hard-key panel) or 300 ms
// into the cycle that begins when it ends (soft-key panel). Commands change nothing.
TEST(LivePacing, NormalIsTheCyclePacing) {
    struct Case {
        const char* name;
        bool softKey;
        ms duration;
        std::vector<ms> starts;
    };
    const Case cases[] = {
        {"hard, short exchanges", false, 20ms, {0ms, 501ms, 1002ms, 1503ms}},
        {"hard, exchanges of 750 ms", false, 750ms, {0ms, 750ms, 1500ms}},
        {"soft, short exchanges", true, 20ms, {300ms, 801ms, 1302ms}},
        {"soft, exchanges of 750 ms", true, 750ms, {300ms, 1350ms}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Driver d(c.softKey, LiveRate::Normal);
        d.Run({40ms, 45ms, 600ms, 790ms, 1010ms}, 1600ms, [&](std::size_t) { return c.duration; });
        EXPECT_EQ(d.Starts(), c.starts);
        for (const auto& t : d.turns) {
            EXPECT_FALSE(t.early);
        }
    }
}

TEST(LivePacing, ResponsiveRefreshesSoonAfterACommandThenResumes) {
    for (const bool soft : {false, true}) {
        SCOPED_TRACE(soft ? "soft" : "hard");
        const ms first = soft ? 300ms : 0ms;
        Driver d(soft, LiveRate::Responsive);
        // A key 100 ms after the first exchange: shown 80 ms later, then a period on.
        d.Run({first + 100ms}, first + 1300ms);
        const std::vector<ms> expected{first, first + 180ms, first + 681ms, first + 1182ms};
        EXPECT_EQ(d.Starts(), expected);
        EXPECT_TRUE(d.turns[1].early);
        EXPECT_FALSE(d.turns[2].early);
    }
}

TEST(LivePacing, ResponsiveBurstGivesOneEarlyExchangePerCycle) {
    Driver d(false, LiveRate::Responsive);
    // Ten knob steps 20 ms apart from 100 ms on.
    std::vector<ms> burst;
    for (int i = 0; i < 10; ++i) {
        burst.push_back(100ms + 20ms * i);
    }
    d.Run(burst, 1200ms);
    // 0, then early at 180; the rest of the burst (up to 280) waits for the regular turn a
    // period after the early one, which shows it.
    EXPECT_EQ(d.Starts(), (std::vector<ms>{0ms, 180ms, 681ms, 1182ms}));
    EXPECT_EQ(std::count_if(d.turns.begin(), d.turns.end(), [](auto& t) { return t.early; }), 1);
}

// A regular turn due while a command settles waits for it: one exchange shows the command,
// and the cycle goes on from there. At Normal the turn keeps its time.
TEST(LivePacing, ResponsiveCommandJustBeforeARegularTurn) {
    Driver d(false, LiveRate::Responsive);
    d.Run({480ms}, 1100ms);
    EXPECT_EQ(d.Starts(), (std::vector<ms>{0ms, 560ms, 1061ms}));
    EXPECT_FALSE(d.turns[1].early);
    Driver normal(false, LiveRate::Normal);
    normal.Run({480ms}, 1100ms);
    EXPECT_EQ(normal.Starts(), (std::vector<ms>{0ms, 501ms, 1002ms}));
}

// Whatever the commands and however long the exchanges: turns never overlap, no window of a
// second holds four starts, early turns are a period apart, and every command is followed by
// a turn that began at least 80 ms after it, within a bounded time.
TEST(LivePacing, ResponsiveLimitsHoldForAnyCommands) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const bool soft = round % 2 == 1;
        std::vector<ms> commands;
        ms t = 0ms;
        std::uniform_int_distribution<int> gap(0, round % 4 == 0 ? 120 : 900);
        while (t < 60s) {
            t += ms(gap(random));
            commands.push_back(t);
        }
        std::uniform_int_distribution<int> length(1, 60);
        std::uniform_int_distribution<int> slow(0, 30);
        std::vector<ms> durations;
        Driver d(soft, LiveRate::Responsive);
        d.Run(commands, 61s,
              [&](std::size_t) { return slow(random) == 0 ? 700ms : ms(length(random)); });
        const auto& turns = d.turns;
        ASSERT_GT(turns.size(), 100u);
        ms lastEarly = -10s;
        for (std::size_t i = 0; i < turns.size(); ++i) {
            if (i > 0) {
                ASSERT_GE(turns[i].start, turns[i - 1].end);
            }
            if (i >= 3) {
                ASSERT_GT(turns[i].start - turns[i - 3].start, 1000ms);
            }
            if (turns[i].early) {
                ASSERT_GE(turns[i].start - lastEarly, LivePacing::kPeriod);
                lastEarly = turns[i].start;
            }
        }
        for (const ms c : commands) {
            if (c > 58s) {
                break;
            }
            const auto shown = std::find_if(turns.begin(), turns.end(), [&](const auto& turn) {
                return turn.start >= c + 80ms;
            });
            ASSERT_NE(shown, turns.end());
            // At worst the early slot is used up and a slow exchange runs: two periods on.
            EXPECT_LE(shown->start - c, 80ms + 2 * LivePacing::kPeriod + 700ms);
        }
    }
}

TEST(LivePacing, FastFollowsTheLastFrameAtLeast40msApart) {
    Driver d(true, LiveRate::Fast);
    // Exchanges of 10 ms, one of 100 ms: the next starts when it ends.
    d.Run({}, 300ms, [](std::size_t i) { return i == 3 ? 100ms : 10ms; });
    EXPECT_EQ(d.Starts(), (std::vector<ms>{0ms, 40ms, 80ms, 120ms, 220ms, 260ms, 300ms}));
    // With remote control off the loop only looks, every 100 ms.
    Driver idle(false, LiveRate::Fast);
    idle.Run(
        {}, 350ms, [](std::size_t) { return 1ms; }, false);
    EXPECT_EQ(idle.Starts(), (std::vector<ms>{0ms, 100ms, 200ms, 300ms}));
}

TEST(LivePacing, ChangingTheRateKeepsTheCadence) {
    LivePacing p(false, kT0);
    p.SetRate(LiveRate::Fast);
    p.TurnDone(kT0, kT0 + 10ms, true);
    EXPECT_EQ(At(p.NextTurn()), 40ms);
    p.SetRate(LiveRate::Normal);
    EXPECT_EQ(At(p.NextTurn()), 501ms);
    // A command does not move a Normal turn, and says so.
    EXPECT_FALSE(p.CommandWritten(kT0 + 20ms));
    EXPECT_EQ(At(p.NextTurn()), 501ms);
    // At Responsive the pending command brings the turn to 100 ms.
    p.SetRate(LiveRate::Responsive);
    EXPECT_EQ(At(p.NextTurn()), 100ms);
    EXPECT_FALSE(p.CommandWritten(kT0 + 30ms));  // already coming
}

}  // namespace
}  // namespace qv
