// The thrifty strategy's decisions in small worlds: what it chases and for how much, when it lets
// the free path do the work, what it escapes from, and that no wind it asks for could be refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "bot/physics/wind_law.hpp"
#include "bot/plan/planner.hpp"
#include "tests/plan/plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::ownTrack;
using testing::snapshotAt;
using testing::still;

double strength(const Wind& w) {
    return windStrengthDouble(w.x, w.y);
}

Strategy decide(const WorldSnapshot& snapshot) {
    const std::unique_ptr<Planner> planner = makePlanner("thrifty");
    return planner->decide(0.0f, snapshot, ownTrack(snapshot));
}

TEST(ThriftyPlanner, ChasesTheRaincloudItCanAffordAndUsesTheMomentumItHas) {
    // At rest, a raincloud 150 to the right: a wind towards it, under the mass it wins.
    WorldSnapshot s = snapshotAt(100, still(400, 360, 100));
    s.rainclouds.push_back(still(550, 360, 30));
    const Strategy atRest = decide(s);
    EXPECT_FALSE(atRest.isDirect);
    EXPECT_EQ(atRest.startTick, 103);
    EXPECT_GT(atRest.windX, 0.0f);
    EXPECT_NEAR(atRest.windY, 0.0f, 1e-4);
    EXPECT_LT(strength(atRest.actionWind()), 30.0);
    EXPECT_EQ(atRest.targetState.mass, 30.0f);

    // Already moving towards it at a unit a tick: a sooner catch for a part of the wind.
    s.own.vx = 10.0f;
    const Strategy moving = decide(s);
    EXPECT_FALSE(moving.isDirect);
    EXPECT_LT(strength(moving.actionWind()), strength(atRest.actionWind()) / 2);
    EXPECT_LE(moving.duration, atRest.duration);

    // 20 away: the free path catches it within a few ticks, at most a breath of wind helps.
    s.rainclouds.front().x = 420;
    const Strategy close = decide(s);
    EXPECT_FALSE(close.isDirect);
    EXPECT_LT(strength(close.actionWind()), 0.5);
    EXPECT_NEAR(close.duration, 20 - 10 - 3, 2);  // within the radius at about a unit a tick
}

TEST(ThriftyPlanner, IdlesWithNothingToWinAndNeverChasesRivalsOrHeavierClouds) {
    WorldSnapshot s = snapshotAt(100, still(400, 360, 100));
    s.rivals.push_back(still(550, 360, 30));       // a light rival: never chased
    s.rainclouds.push_back(still(900, 200, 100));  // as heavy as the bot: not a target
    s.rainclouds.push_back(still(900, 600, 150));  // heavier, far away and still
    const Strategy plan = decide(s);
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.actionWind().x, 0.0f);
    EXPECT_EQ(plan.actionWind().y, 0.0f);
    EXPECT_EQ(plan.startTick, 100);
    EXPECT_EQ(plan.duration, 10);
}

TEST(ThriftyPlanner, EscapesAHeavierCloudOnCourseWithAWindItMayBlow) {
    // A heavier raincloud coming straight at the bot (the worked evasion of the faithful
    // strategy), and a heavier rival; then the same with a bot too light to do much.
    for (const float mass : {100.0f, 9.0f}) {
        SCOPED_TRACE(mass);
        WorldSnapshot s = snapshotAt(100, still(640, 360, mass));
        s.rainclouds.push_back(CloudState{440, 365, 20, 0, 144});
        const Strategy plan = decide(s);
        EXPECT_TRUE(plan.isDirect);
        EXPECT_EQ(plan.duration, 1);
        const double wind = strength(plan.actionWind());
        EXPECT_GT(wind, 0.0);
        EXPECT_LE(wind, 0.4 * mass);  // the arena refuses more than half the mass
        EXPECT_GE(std::fabs(plan.actionWind().y), std::fabs(plan.actionWind().x));  // sideways
    }
}

TEST(ThriftyPlanner, StatesWithoutMeaningGiveTheIdlePlan) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const CloudState& own :
         {still(400, 360, 0), still(nan, 360, 100), still(400, 360, nan),
          CloudState{400, 360, std::numeric_limits<float>::infinity(), 0, 100}}) {
        WorldSnapshot s = snapshotAt(100, own);
        s.rainclouds.push_back(still(550, 360, 30));
        s.rainclouds.push_back(still(nan, nan, nan));
        const Strategy plan = decide(s);
        EXPECT_TRUE(plan.isDirect);
        EXPECT_EQ(plan.actionWind().x, 0.0f);
        EXPECT_EQ(plan.actionWind().y, 0.0f);
    }
}

}  // namespace
}  // namespace nimbus
