// The keen strategy's own decisions, where it parts from thrifty: a raincloud that a heavier
// rival reaches first is left to it, and a catch that costs a little more than it brings is made
// only when one rival is left to take what keen leaves. Its winds are tried stronger and weaker
// than found, so that a chain the found wind misses is caught, a wind is tried even towards a
// catch that does not pay alone, for what else its path catches, and a path counts what it
// catches up to 700 ticks ahead. Of its best first catches it takes the one with the best second.
#include <gtest/gtest.h>

#include "bot/physics/wind_law.hpp"
#include "bot/plan/planner.hpp"
#include "tests/plan/plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::ownTrack;
using testing::snapshotAt;
using testing::still;

Strategy decide(const char* strategy, const WorldSnapshot& snapshot) {
    const std::unique_ptr<Planner> planner = makePlanner(strategy);
    return planner->decide(0.0f, snapshot, ownTrack(snapshot));
}

enum class Expect { Idle, Chase };

struct Case {
    const char* what;
    const char* strategy;
    std::vector<CloudState> rivals;
    std::vector<CloudState> rainclouds;
    Expect expect;
};

TEST(KeenPlanner, PartsFromThriftyWhereItsRulesSay) {
    // The own cloud: mass 100 (radius 10) at rest in the middle. A raincloud of mass 60 150 to
    // the right is worth a wind, unless a rival of 150 50 below it can swallow it first for a
    // wind of 12 (by tick 80, before the bot).
    const CloudState prize = still(790, 360, 60);
    const CloudState taker = still(790, 410, 150);
    // A raincloud of 20, 440 to the right: its cheapest catch, at the end of the look ahead,
    // costs 22.3, within the 25 that wind at 0.8 of its cost allows. Two light rivals far away.
    const CloudState far = still(1080, 360, 20);
    const CloudState light1 = still(100, 100, 6);
    const CloudState light2 = still(100, 620, 6);
    // A rival of 400 (radius 20) 25 beside the way to the prize: within its radius plus the own
    // radius, not within its radius alone.
    const CloudState beside = still(715, 385, 400);
    const Case cases[] = {
        {"a raincloud alone", "keen", {}, {prize}, Expect::Chase},
        {"a raincloud a rival reaches first", "keen", {taker}, {prize}, Expect::Idle},
        {"the same for thrifty", "thrifty", {taker}, {prize}, Expect::Chase},
        {"a heavier rival beside the way", "keen", {beside}, {prize}, Expect::Chase},
        {"the same for thrifty", "thrifty", {beside}, {prize}, Expect::Idle},
        {"a dear catch with one rival left", "keen", {light1}, {far}, Expect::Chase},
        {"the same with two rivals", "keen", {light1, light2}, {far}, Expect::Idle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " (" + c.strategy + ")");
        WorldSnapshot s = snapshotAt(100, still(640, 360, 100));
        s.rivals.assign(c.rivals.begin(), c.rivals.end());
        s.rainclouds.assign(c.rainclouds.begin(), c.rainclouds.end());
        const Strategy plan = decide(c.strategy, s);
        const Wind w = plan.actionWind();
        switch (c.expect) {
            case Expect::Idle:
                EXPECT_TRUE(plan.isDirect);
                EXPECT_EQ(windStrengthDouble(w.x, w.y), 0.0);
                break;
            case Expect::Chase:
                EXPECT_FALSE(plan.isDirect);
                EXPECT_GT(w.x, 0.0f);
                EXPECT_EQ(plan.targetState.mass, c.rainclouds.front().mass);
                EXPECT_LT(windStrengthDouble(w.x, w.y), 1.25 * c.rainclouds.front().mass);
                break;
        }
    }
}

// A chain of two rainclouds in line ahead of the own cloud (mass 100, at rest): keen blows
// towards the near one with a wind that catches both, within the 40 (0.4 of the mass) allowed.
struct Chain {
    const char* what;
    CloudState own;
    std::vector<CloudState> rainclouds;  // the near one first
    double strongerThan;                 // the wind's least strength
    float gainAbove;                     // both caught: above what the near one alone could net
};

TEST(KeenPlanner, BlowsForTheWholeChain) {
    const Chain cases[] = {
        // The far one's catch wind as found (30.8) is worked out as if nothing were swallowed on
        // the way; once the near one is, the own cloud (mass 69 + 20) slows down and reaches it
        // only after tick 500. 1.4 times that wind is over the 40 allowed, the near one's own
        // wind (8.5) catches it alone, for a net 11.5. A wind 1.15 times as strong (35.5)
        // catches both some 80 ticks sooner: 80 for it, more per tick.
        {"a stronger wind than found completes the chain",
         still(300, 360, 100),
         {still(360, 360, 20), still(800, 366, 60)},
         30.9,
         80.0f - 40.0f},
        // The near one alone pays for no wind, and looking 500 ticks ahead keen idles here. A
        // wind of 32.1 catches the near one at tick 164 and, slowed by it, the far one after
        // tick 500: 48 for it.
        {"the second catch comes after tick 500",
         still(100, 360, 100),
         {still(350, 360, 8), still(800, 362, 40)},
         30.0,
         8.0f},
    };
    for (const Chain& c : cases) {
        SCOPED_TRACE(c.what);
        WorldSnapshot s = snapshotAt(100, c.own);
        s.rainclouds.assign(c.rainclouds.begin(), c.rainclouds.end());
        const Strategy plan = decide("keen", s);
        const Wind w = plan.actionWind();
        EXPECT_FALSE(plan.isDirect);
        EXPECT_EQ(plan.targetState.mass, c.rainclouds.front().mass);
        EXPECT_GT(w.x, 0.0f);
        EXPECT_GT(windStrengthDouble(w.x, w.y), c.strongerThan);
        EXPECT_LE(windStrengthDouble(w.x, w.y), 40.0);
        EXPECT_GT(plan.gain, c.gainAbove);
    }
}

TEST(KeenPlanner, BlowsForTwoCatchesNeitherPaysAlone) {
    // The own cloud (mass 100) at rest; two rainclouds of 12, 100 and 125 ahead, drifting away
    // in line at 5 (0.5 a tick). Catching either alone costs more than its 12: with the other one
    // far off, keen idles. Together they pay: one wind (17.2) catches both, for 24.
    const CloudState own = still(300, 360, 100);
    const CloudState near{400, 360, 5, 0, 12};
    const CloudState next{425, 360, 5, 0, 12};
    const CloudState gone{1200, 360, 5, 0, 12};
    WorldSnapshot s = snapshotAt(100, own);
    for (const auto& pair : {std::vector<CloudState>{near, gone}, {gone, next}}) {
        s.rainclouds.assign(pair.begin(), pair.end());
        const Wind w = decide("keen", s).actionWind();
        EXPECT_EQ(windStrengthDouble(w.x, w.y), 0.0);
    }
    s.rainclouds = {near, next};
    const Strategy plan = decide("keen", s);
    EXPECT_FALSE(plan.isDirect);
    EXPECT_EQ(plan.targetState.mass, 12.0f);
    EXPECT_GT(plan.actionWind().x, 12.0f);
    EXPECT_GT(plan.gain, 0.0f);  // 24 less the wind: both caught
}

TEST(KeenPlanner, ChoosesTheFirstCatchWithTheBestSecond) {
    // The own cloud (mass 100) at rest between a raincloud of 12, 80 to the left, and one of 10,
    // 80 to the right, with another 12 just beyond that one (10 further, 30 below). Alone the
    // left one pays best (0.018 a tick against 0.013), and thrifty blows for it. Keen looks at
    // the next wind too: after the right one, a small wind catches the 12 beyond, for 0.025 a
    // tick over both; after the left one nothing near is left.
    WorldSnapshot s = snapshotAt(100, still(640, 360, 100));
    s.rainclouds = {still(560, 360, 12), still(720, 360, 10), still(730, 390, 12)};
    const Wind thrifty = decide("thrifty", s).actionWind();
    EXPECT_LT(thrifty.x, 0.0f);
    const Strategy plan = decide("keen", s);
    EXPECT_FALSE(plan.isDirect);
    EXPECT_EQ(plan.targetState.mass, 10.0f);
    EXPECT_GT(plan.actionWind().x, 0.0f);
    EXPECT_LT(windStrengthDouble(plan.actionWind().x, plan.actionWind().y), 10.0);
}

}  // namespace
}  // namespace nimbus
