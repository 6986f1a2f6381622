#include "bot/plan/decide.hpp"

#include <gtest/gtest.h>

#include "bot/plan/evasion.hpp"
#include "plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::ownTrack;
using testing::snapshotAt;
using testing::still;

const CloudState kOwn = still(640.0f, 360.0f, 100.0f);
const CloudState kRainThreat{440.0f, 365.0f, 20.0f, 0.0f, 144.0f};
const CloudState kRivalThreat{620.0f, 360.5f, 40.0f, 0.0f, 144.0f};
const CloudState kEasyTarget = still(700.0f, 360.0f, 20.0f);

TEST(DecideTest, ThreatBeatsAnyTarget) {
    WorldSnapshot snapshot = snapshotAt(77, kOwn);
    snapshot.rainclouds = {kEasyTarget, kRainThreat};
    const Strategy plan = decidePlan(0.0f, snapshot, ownTrack(snapshot));
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(plan.startTick, 77);
    EXPECT_EQ(plan.duration, 1);
    EXPECT_EQ(testing::fixed6(plan.windY), "-3.571134");
    EXPECT_EQ(plan.windX, 0.0f);
}

TEST(DecideTest, RaincloudThreatIsAnsweredBeforeARivalThreat) {
    WorldSnapshot snapshot = snapshotAt(77, kOwn);
    snapshot.rivals = {kRivalThreat};
    snapshot.rainclouds = {kRainThreat};
    const Strategy plan = decidePlan(0.0f, snapshot, ownTrack(snapshot));
    const Evasion rain = evadeCloud(kOwn, kRainThreat, 500);
    EXPECT_NE(rain.windY, evadeCloud(kOwn, kRivalThreat, 500).windY);
    EXPECT_EQ(plan.windX, rain.windX);
    EXPECT_EQ(plan.windY, rain.windY);
}

TEST(DecideTest, ThreatSixHundredTicksAheadCounts) {
    WorldSnapshot snapshot = snapshotAt(0, kOwn);
    snapshot.rivals = {CloudState{-560.0f, 360.0f, 20.0f, 0.0f, 144.0f}};
    EXPECT_TRUE(decidePlan(0.0f, snapshot, ownTrack(snapshot)).isDirect);
    EXPECT_EQ(decidePlan(0.0f, snapshot, ownTrack(snapshot)).duration, 1);
    snapshot.rivals = {CloudState{-562.0f, 360.0f, 20.0f, 0.0f, 144.0f}};
    EXPECT_EQ(decidePlan(0.0f, snapshot, ownTrack(snapshot)).duration, 10);
}

TEST(DecideTest, AcceptedChaseIsReturnedWithItsChain) {
    // Slowly drifting into the left wall, yet a target is in reach: the chase wins.
    WorldSnapshot snapshot = snapshotAt(5, CloudState{14.0f, 360.0f, -5.0f, 0.0f, 100.0f});
    snapshot.rainclouds = {still(80.0f, 360.0f, 20.0f)};
    Strategy plan = decidePlan(0.0f, snapshot, ownTrack(snapshot));
    EXPECT_FALSE(plan.isDirect);
    EXPECT_EQ(plan.targetState.mass, 20.0f);
    EXPECT_GT(plan.gain, 0.0f);
    plan.releaseFollowUps();
}

TEST(DecideTest, NothingToChaseButASlowBounceAheadGivesThePush) {
    // 0.5 units a tick toward the left wall: x drops below the radius 10 at the ninth tick and
    // comes back at about 3 a tick, well under 0.5 x radius.
    const WorldSnapshot snapshot = snapshotAt(5, CloudState{14.0f, 360.0f, -5.0f, 0.0f, 100.0f});
    const Strategy plan = decidePlan(0.0f, snapshot, ownTrack(snapshot));
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.startTick, 14);
    EXPECT_EQ(plan.duration, 1);
    EXPECT_EQ(plan.windX, 25.0f);
    EXPECT_EQ(plan.windY, 0.0f);
}

TEST(DecideTest, NothingAtAllGivesTheIdlePlan) {
    WorldSnapshot snapshot = snapshotAt(5, kOwn);
    snapshot.rivals = {still(100.0f, 100.0f, 300.0f)};
    const Strategy plan = decidePlan(0.0f, snapshot, ownTrack(snapshot));
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.startTick, 5);
    EXPECT_EQ(plan.duration, 10);
    EXPECT_EQ(plan.windX, 0.0f);
    EXPECT_EQ(plan.windY, 0.0f);
    EXPECT_EQ(plan.followUp, nullptr);
}

}  // namespace
}  // namespace nimbus
