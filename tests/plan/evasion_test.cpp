#include "bot/plan/evasion.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::fixed6;
using testing::still;

const CloudState kOwn = still(640.0f, 360.0f, 100.0f);

CloudState movingRight(float x, float y, float speed, float mass) {
    return CloudState{x, y, speed, 0.0f, mass};
}

void expectNoThreat(const Evasion& e) {
    EXPECT_EQ(e.ticks, 0);
    EXPECT_EQ(e.windX, 0.0f);
    EXPECT_EQ(e.windY, 0.0f);
}

TEST(EvasionTest, WorkedCasePushesAwayFromThePath) {
    const Evasion e = evadeCloud(kOwn, movingRight(440.0f, 365.0f, 20.0f, 144.0f), 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_EQ(fixed6(e.windX), "0.000000");
    EXPECT_FALSE(std::signbit(e.windX));
    EXPECT_EQ(fixed6(e.windY), "-3.571134");
}

TEST(EvasionTest, PositiveWindIsLimitedBelowHalfTheMass) {
    const Evasion e = evadeCloud(kOwn, movingRight(620.0f, 360.5f, 40.0f, 144.0f), 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_EQ(fixed6(e.windX), "0.000000");
    EXPECT_EQ(fixed6(e.windY), "-49.000000");
}

TEST(EvasionTest, NegativeWindIsLimitedToo) {
    // m = -0.5: the strength is about -86.17 before the limit.
    const Evasion e = evadeCloud(kOwn, movingRight(620.0f, 359.5f, 40.0f, 144.0f), 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_EQ(fixed6(e.windX), "-0.000000");
    EXPECT_EQ(fixed6(e.windY), "49.000000");
}

TEST(EvasionTest, BlockedSidePassesOnTheOtherSide) {
    // Near the bottom wall the own side is blocked; the other side's rate is -W - 2 m / S.
    const CloudState own = still(640.0f, 15.0f, 100.0f);
    const Evasion e = evadeCloud(own, movingRight(440.0f, 20.0f, 20.0f, 144.0f), 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_TRUE(std::signbit(e.windX));
    EXPECT_EQ(e.windX, 0.0f);
    EXPECT_NEAR(e.windY, 5.6718, 1e-4);
    // The same approach in open space stays on the own side.
    const Evasion open =
        evadeCloud(still(640.0f, 355.0f, 100.0f), movingRight(440.0f, 360.0f, 20.0f, 144.0f), 500);
    EXPECT_EQ(fixed6(open.windY), "-3.571134");
}

TEST(EvasionTest, BothSidesBlockedKeepsTheFirstSide) {
    // A huge cloud through the own centre: both shifts would reach a wall.
    const Evasion e = evadeCloud(kOwn, movingRight(440.0f, 360.0f, 20.0f, 110000.0f), 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_EQ(fixed6(e.windY), "-49.000000");
}

TEST(EvasionTest, PathThroughTheCentreShiftsAlongThePositiveSide) {
    // m = 0: D = R = 22, wind along (u.y, -u.x) = (0, -1).
    const Evasion e = evadeCloud(kOwn, movingRight(440.0f, 360.0f, 20.0f, 144.0f), 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_EQ(e.windX, 0.0f);
    EXPECT_LT(e.windY, 0.0f);
    EXPECT_NEAR(e.windY, -2.0 * 10.0 * 22.0 / ((1.0 - std::pow(0.999, 100)) * 1000.0), 1e-5);
}

TEST(EvasionTest, OnlyCloudsAtLeastAsHeavyThreaten) {
    const CloudState same = movingRight(440.0f, 365.0f, 20.0f, 100.0f);
    EXPECT_EQ(evadeCloud(kOwn, same, 500).ticks, 1);
    CloudState lighter = same;
    lighter.mass = std::nextafter(100.0f, 0.0f);
    expectNoThreat(evadeCloud(kOwn, lighter, 500));
}

TEST(EvasionTest, NoRelativeMotionNoThreat) {
    expectNoThreat(evadeCloud(kOwn, still(640.0f, 360.0f, 200.0f), 500));
    expectNoThreat(evadeCloud(kOwn, movingRight(600.0f, 360.0f, 0.00009f, 200.0f), 500));
    // Both moving alike is no relative motion either.
    CloudState own = kOwn;
    own.vx = 15.0f;
    expectNoThreat(evadeCloud(own, movingRight(600.0f, 360.0f, 15.0f, 200.0f), 500));
}

TEST(EvasionTest, MovingApartOrAlreadyAtClosestApproachNoThreat) {
    expectNoThreat(evadeCloud(kOwn, movingRight(700.0f, 360.0f, 20.0f, 144.0f), 500));
    // a = 0, so T = 0.
    expectNoThreat(evadeCloud(kOwn, CloudState{640.0f, 340.0f, 20.0f, 0.0f, 144.0f}, 500));
    // a = 1 < step 2, so T = 0.
    expectNoThreat(evadeCloud(kOwn, movingRight(639.0f, 360.0f, 20.0f, 144.0f), 500));
}

TEST(EvasionTest, ContactDistanceIsInclusive) {
    // R = 10 + 12 = 22.
    EXPECT_EQ(evadeCloud(kOwn, movingRight(440.0f, 382.0f, 20.0f, 144.0f), 500).ticks, 1);
    EXPECT_EQ(evadeCloud(kOwn, movingRight(440.0f, 338.0f, 20.0f, 144.0f), 500).ticks, 1);
    expectNoThreat(evadeCloud(kOwn, movingRight(440.0f, 382.01f, 20.0f, 144.0f), 500));
    expectNoThreat(evadeCloud(kOwn, movingRight(440.0f, 337.99f, 20.0f, 144.0f), 500));
}

TEST(EvasionTest, ClosestApproachUpToHundredTicksBeyondTheHorizon) {
    // Step 2 per tick: 1200 away is 600 ticks, 1202 away is 601.
    EXPECT_EQ(evadeCloud(kOwn, movingRight(-560.0f, 360.0f, 20.0f, 144.0f), 500).ticks, 1);
    expectNoThreat(evadeCloud(kOwn, movingRight(-562.0f, 360.0f, 20.0f, 144.0f), 500));
    EXPECT_EQ(evadeCloud(kOwn, movingRight(-562.0f, 360.0f, 20.0f, 144.0f), 501).ticks, 1);
    // A horizon at the int32 bound does not overflow.
    EXPECT_EQ(evadeCloud(kOwn, movingRight(-562.0f, 360.0f, 20.0f, 144.0f),
                         std::numeric_limits<std::int32_t>::max())
                  .ticks,
              1);
}

TEST(EvasionTest, TicksBeyondTheInt32RangeSaturate) {
    // 1e30 away at 0.0001 a tick: the closest approach is far beyond any int32 tick count and
    // counts as the largest one.
    const CloudState crawler{-1e30f, 360.0f, 0.001f, 0.0f, 144.0f};
    expectNoThreat(evadeCloud(kOwn, crawler, 500));
    EXPECT_EQ(evadeCloud(kOwn, crawler, std::numeric_limits<std::int32_t>::max()).ticks, 1);
}

TEST(EvasionTest, ForecastTakesRaincloudsFirstInListOrder) {
    WorldSnapshot snapshot;
    snapshot.own = kOwn;
    EXPECT_EQ(forecastCollision(kOwn, snapshot, 500).ticks, 0);

    const CloudState rivalThreat = movingRight(440.0f, 360.5f, 40.0f, 144.0f);
    const CloudState rainThreat = movingRight(440.0f, 365.0f, 20.0f, 144.0f);
    snapshot.rivals = {rivalThreat};
    const Evasion rivalOnly = forecastCollision(kOwn, snapshot, 500);
    EXPECT_EQ(rivalOnly.ticks, 1);
    EXPECT_EQ(rivalOnly.windY, evadeCloud(kOwn, rivalThreat, 500).windY);

    snapshot.rainclouds = {still(100.0f, 100.0f, 5.0f), rainThreat,
                           movingRight(440.0f, 364.0f, 20.0f, 144.0f)};
    const Evasion e = forecastCollision(kOwn, snapshot, 500);
    EXPECT_EQ(e.ticks, 1);
    EXPECT_EQ(fixed6(e.windY), "-3.571134");
}

TEST(EvasionTest, AnyCloudAtMeansWithinDistanceOne) {
    WorldSnapshot snapshot;
    const CloudState point = still(500.0f, 300.0f, 0.0f);
    EXPECT_FALSE(anyCloudAt(point, snapshot));
    snapshot.rainclouds = {still(501.0f, 300.0f, 5.0f)};
    EXPECT_FALSE(anyCloudAt(point, snapshot));
    snapshot.rivals = {still(500.5f, 300.5f, 50.0f)};
    EXPECT_TRUE(anyCloudAt(point, snapshot));
    snapshot.rivals.clear();
    snapshot.rainclouds.push_back(still(499.2f, 300.0f, 5.0f));
    EXPECT_TRUE(anyCloudAt(point, snapshot));
}

}  // namespace
}  // namespace nimbus
