#include "bot/plan/target.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "bot/plan/evasion.hpp"
#include "plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::ownTrack;
using testing::snapshotAt;
using testing::still;

void expectIdle(const Strategy& plan, std::int32_t tick) {
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(plan.startTick, tick);
    EXPECT_EQ(plan.duration, 10);
    EXPECT_EQ(plan.windX, 0.0f);
    EXPECT_EQ(plan.windY, 0.0f);
    EXPECT_EQ(plan.ownState.mass, 0.0f);
    EXPECT_EQ(plan.targetState.mass, 0.0f);
}

// Chooses with the given drift and releases the result's chain; returns a copy for inspection
// of its top-level fields only.
Strategy chooseAndRelease(const WorldSnapshot& snapshot, const Trajectory& own, float drift) {
    Strategy plan = chooseTarget(snapshot, own, drift);
    plan.releaseFollowUps();
    return plan;
}

TEST(TargetTest, NothingCatchableGivesTheIdlePlan) {
    WorldSnapshot snapshot = snapshotAt(300, still(640.0f, 360.0f, 100.0f));
    expectIdle(chooseAndRelease(snapshot, ownTrack(snapshot), 0.0f), 300);

    // Clouds of the own mass or heavier are no candidates, however close.
    snapshot.rainclouds = {still(660.0f, 360.0f, 100.0f), still(600.0f, 360.0f, 150.0f)};
    snapshot.rivals = {still(640.0f, 420.0f, 100.0f)};
    expectIdle(chooseAndRelease(snapshot, ownTrack(snapshot), 0.0f), 300);
}

TEST(TargetTest, CatchableRaincloudIsChased) {
    WorldSnapshot snapshot = snapshotAt(300, still(640.0f, 360.0f, 100.0f));
    snapshot.rainclouds = {still(700.0f, 360.0f, 20.0f)};
    const Trajectory own = ownTrack(snapshot);
    Strategy plan = chooseTarget(snapshot, own, 0.0f);
    EXPECT_FALSE(plan.isDirect);
    EXPECT_EQ(plan.startTick, 303);
    EXPECT_EQ(plan.targetState.mass, 20.0f);
    EXPECT_GT(plan.gain, 0.0f);
    EXPECT_GT(plan.windX, 0.0f);
    plan.releaseFollowUps();
}

TEST(TargetTest, RainReserveComesFromTheHeaviestCatchableRaincloud) {
    // The raincloud of 30 is out of reach but still sets the reserve; the one of 120 is too
    // heavy to count.
    WorldSnapshot snapshot = snapshotAt(1000, still(100.0f, 360.0f, 100.0f));
    snapshot.rainclouds = {still(1200.0f, 360.0f, 30.0f), still(640.0f, 100.0f, 120.0f)};
    const Trajectory own = ownTrack(snapshot);

    snapshot.rivals = {still(160.0f, 360.0f, 65.0f)};  // 100 > 65 + 30
    const Strategy taken = chooseAndRelease(snapshot, own, 0.0f);
    EXPECT_FALSE(taken.isDirect);
    EXPECT_EQ(taken.targetState.mass, 65.0f);

    snapshot.rivals = {still(160.0f, 360.0f, 70.0f)};  // 100 > 70 + 30 fails
    expectIdle(chooseAndRelease(snapshot, own, 0.0f), 1000);

    // Without the reserve the rival of 70 would be chased.
    snapshot.rainclouds.pop_front();
    EXPECT_EQ(chooseAndRelease(snapshot, own, 0.0f).targetState.mass, 70.0f);
}

TEST(TargetTest, EqualScoreKeepsTheEarlierCandidate) {
    WorldSnapshot snapshot = snapshotAt(0, still(640.0f, 360.0f, 100.0f));
    const Trajectory own = ownTrack(snapshot);
    snapshot.rainclouds = {still(580.0f, 360.0f, 20.0f), still(700.0f, 360.0f, 20.0f)};
    EXPECT_LT(chooseAndRelease(snapshot, own, 0.0f).windX, 0.0f);
    snapshot.rainclouds.reverse();
    EXPECT_GT(chooseAndRelease(snapshot, own, 0.0f).windX, 0.0f);
}

// Own cloud with a light raincloud ahead and a heavy rival beside the way to it: after the wind
// toward the raincloud the own cloud runs into the heavy one.
struct HeavyBeside {
    WorldSnapshot snapshot = snapshotAt(50, still(400.0f, 360.0f, 100.0f));
    const CloudState bait = still(460.0f, 360.0f, 30.0f);
    const CloudState heavy = still(440.0f, 380.0f, 200.0f);
    const CloudState farRival = still(200.0f, 360.0f, 20.0f);
    Trajectory own = ownTrack(snapshot);
};

TEST(TargetTest, RaincloudFailingVettingLeavesRoomForAWorseRival) {
    HeavyBeside world;
    WorldSnapshot& snapshot = world.snapshot;
    snapshot.rainclouds = {world.bait};
    snapshot.rivals = {world.farRival};

    // Without the heavy cloud the raincloud wins, and its plan would not pass with it.
    Strategy bait = chooseTarget(snapshot, world.own, 0.0f);
    ASSERT_EQ(bait.targetState.mass, 30.0f);
    WorldSnapshot withHeavy = snapshot;
    withHeavy.rivals.push_back(world.heavy);
    EXPECT_TRUE(vetPlan(world.own, snapshot, bait.duration, bait));
    EXPECT_FALSE(vetPlan(world.own, withHeavy, bait.duration, bait));
    bait.releaseFollowUps();

    const Strategy chosen = chooseAndRelease(withHeavy, world.own, 0.0f);
    EXPECT_FALSE(chosen.isDirect);
    EXPECT_EQ(chosen.targetState.mass, 20.0f);
    EXPECT_EQ(chosen.targetState.x, 200.0f);
}

TEST(TargetTest, RivalPlansAreNotVetted) {
    HeavyBeside world;
    WorldSnapshot& snapshot = world.snapshot;
    snapshot.rivals = {world.bait, world.heavy};
    Strategy chosen = chooseTarget(snapshot, world.own, 0.0f);
    EXPECT_EQ(chosen.targetState.mass, 30.0f);
    EXPECT_FALSE(vetPlan(world.own, snapshot, chosen.duration, chosen));
    chosen.releaseFollowUps();
}

TEST(TargetTest, VettingActsOnTheLastStage) {
    // The own path: far below the heavy cloud at tick 10, right beside it at tick 60.
    std::vector<CloudState> states(100, still(400.0f, 600.0f, 100.0f));
    for (std::size_t k = 50; k < states.size(); ++k)
        states[k] = still(400.0f, 360.0f, 100.0f);
    const Trajectory own = testing::handTrack(0, states);
    WorldSnapshot snapshot = snapshotAt(0, states[0]);
    snapshot.rivals = {still(440.0f, 380.0f, 200.0f)};

    Strategy top;
    top.startTick = 10;
    top.duration = 90;
    top.windX = 30.0f;
    top.followUp = new Strategy();
    top.followUp->startTick = 60;
    top.followUp->duration = 40;
    top.followUp->windX = 30.0f;
    EXPECT_FALSE(vetPlan(own, snapshot, top.duration, top));
    // The same wind blown from the top stage's tick would pass.
    top.followUp->startTick = 20;
    EXPECT_TRUE(vetPlan(own, snapshot, top.duration, top));
    // And the last stage's calm wind passes too, whatever the top stage blows.
    top.followUp->startTick = 60;
    top.followUp->windX = 0.0f;
    EXPECT_TRUE(vetPlan(own, snapshot, top.duration, top));
    top.releaseFollowUps();
}

TEST(TargetTest, VettingLooksOnlyAsFarAsTheHorizon) {
    WorldSnapshot snapshot = snapshotAt(0, still(400.0f, 360.0f, 100.0f));
    snapshot.rivals = {still(900.0f, 360.0f, 200.0f)};
    const Trajectory own = ownTrack(snapshot);
    Strategy plan;
    plan.setDirect(2.0f, 0.0f, 0, 1);  // +1 velocity: 500 away is 5000 ticks
    EXPECT_TRUE(vetPlan(own, snapshot, 100, plan));
    EXPECT_FALSE(vetPlan(own, snapshot, 5000, plan));
}

// A start tick outside the predicted window is skipped. The own path here reaches back one tick
// before the snapshot, so a plan from there would find the raincloud.
TEST(TargetTest, StartOutsideThePredictedWindowIsSkipped) {
    WorldSnapshot snapshot = snapshotAt(100, still(640.0f, 360.0f, 100.0f));
    snapshot.rainclouds = {still(700.0f, 360.0f, 20.0f)};
    Trajectory own(1000);
    own.predict(99, 1000, snapshot.own);

    const Strategy inWindow = chooseAndRelease(snapshot, own, -3.0f);
    EXPECT_FALSE(inWindow.isDirect);
    EXPECT_EQ(inWindow.startTick, 100);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float drift : {-4.0f, -3.5f, 497.0f, 1e10f, -1e10f, nan}) {
        expectIdle(chooseAndRelease(snapshot, own, drift), 100);
    }
}

TEST(TargetTest, NegativeSnapshotTicksPlanLikeAnyOther) {
    WorldSnapshot snapshot = snapshotAt(-40, still(640.0f, 360.0f, 100.0f));
    snapshot.rainclouds = {still(700.0f, 360.0f, 20.0f)};
    const Strategy negative = chooseAndRelease(snapshot, ownTrack(snapshot), 0.0f);
    snapshot.tick = 960;
    const Strategy positive = chooseAndRelease(snapshot, ownTrack(snapshot), 0.0f);
    EXPECT_EQ(negative.startTick, -37);
    EXPECT_EQ(negative.duration, positive.duration);
    EXPECT_EQ(negative.gain, positive.gain);
    EXPECT_EQ(negative.windX, positive.windX);
}

}  // namespace
}  // namespace nimbus
