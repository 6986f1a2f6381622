#include "bot/physics/trajectory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "bot/physics/motion.hpp"

namespace nimbus {
namespace {

const CloudState kStart{300.0f, 200.0f, 40.0f, -25.0f, 64.0f};

// The states the motion model gives for ticks 0 .. count - 1 from the start.
std::vector<CloudState> stepped(CloudState c, int count) {
    std::vector<CloudState> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(c);
        moveOneTick(c);
    }
    return out;
}

TEST(TrajectoryTest, PredictionMatchesTheMotionModelTickByTick) {
    Trajectory track(1000);
    EXPECT_EQ(track.predict(120, 500, kStart), 499);
    EXPECT_EQ(track.lastIndex, 619);
    const auto expected = stepped(kStart, 500);
    for (int k = 0; k < 500; ++k) {
        ASSERT_TRUE(sameState(track.stateAt(120 + k), expected[k])) << "tick offset " << k;
    }
}

TEST(TrajectoryTest, ReuseCountsOfRepeatedPredictions) {
    Trajectory track(1000);
    EXPECT_EQ(track.predict(120, 500, kStart), 499);
    EXPECT_EQ(track.predict(120, 500, kStart), 0);
    EXPECT_EQ(track.lastIndex, 619);
    EXPECT_EQ(track.predict(120, 600, kStart), 100);
    EXPECT_EQ(track.lastIndex, 719);
    // A shorter prediction computes nothing and moves lastIndex back.
    EXPECT_EQ(track.predict(120, 200, kStart), 0);
    EXPECT_EQ(track.lastIndex, 320);
    // ...and a longer one afterwards only extends from there.
    EXPECT_EQ(track.predict(120, 500, kStart), 299);
    EXPECT_EQ(track.lastIndex, 619);
    const auto expected = stepped(kStart, 500);
    EXPECT_TRUE(sameState(track.stateAt(619), expected[499]));
}

TEST(TrajectoryTest, ChangedStartRecomputesEverything) {
    Trajectory track(1000);
    track.predict(5, 500, kStart);
    CloudState moved = kStart;
    moved.vx = 41.0f;
    EXPECT_EQ(track.predict(5, 500, moved), 499);
    EXPECT_TRUE(sameState(track.stateAt(504), stepped(moved, 500)[499]));
}

TEST(TrajectoryTest, NanStartIsNeverReused) {
    Trajectory track(100);
    CloudState c = kStart;
    c.vy = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(track.predict(0, 50, c), 49);
    EXPECT_EQ(track.predict(0, 50, c), 49);
}

TEST(TrajectoryTest, PredictionWrapsAtTheEndOfTheBuffer) {
    Trajectory track(1000);
    EXPECT_EQ(track.predict(999, 500, kStart), 499);
    EXPECT_EQ(track.lastIndex, 498);
    const auto expected = stepped(kStart, 500);
    EXPECT_TRUE(sameState(track.states[999], expected[0]));
    EXPECT_TRUE(sameState(track.states[0], expected[1]));
    EXPECT_TRUE(sameState(track.states[498], expected[499]));
    EXPECT_EQ(track.states[499].mass, 0.0f);
    EXPECT_TRUE(sameState(track.stateAt(1000), expected[1]));
}

TEST(TrajectoryTest, CountIsCutToTheCapacity) {
    Trajectory track(10);
    EXPECT_EQ(track.predict(3, 25, kStart), 9);
    EXPECT_EQ(track.lastIndex, 2);
    EXPECT_TRUE(sameState(track.stateAt(3), kStart));
}

TEST(TrajectoryTest, CountOfOneOrLessOnlyStoresTheStart) {
    for (std::int32_t count : {1, 0, -7}) {
        Trajectory track(1000);
        EXPECT_EQ(track.predict(42, count, kStart), 0);
        EXPECT_EQ(track.lastIndex, 42);
        EXPECT_TRUE(sameState(track.stateAt(42), kStart));
        EXPECT_EQ(track.stateAt(43).mass, 0.0f);
    }
}

TEST(TrajectoryTest, NegativeTicksUseNonNegativeSlots) {
    Trajectory track(1000);
    EXPECT_EQ(track.slotOf(-1), 999);
    EXPECT_EQ(track.slotOf(-1000), 0);
    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    EXPECT_GE(track.slotOf(lowest), 0);
    EXPECT_LT(track.slotOf(lowest), 1000);

    EXPECT_EQ(track.predict(-5, 10, kStart), 9);
    EXPECT_EQ(track.lastIndex, 4);
    const auto expected = stepped(kStart, 10);
    EXPECT_TRUE(sameState(track.stateAt(-5), kStart));
    EXPECT_TRUE(sameState(track.states[995], kStart));
    EXPECT_TRUE(sameState(track.stateAt(4), expected[9]));
    EXPECT_EQ(track.predict(-5, 10, kStart), 0);
}

TEST(TrajectoryTest, AdvanceReducesItsSlotAndReportsWhatItWrote) {
    Trajectory track(10);
    track.states[3] = kStart;
    EXPECT_EQ(track.advance(13, 4), 3);
    EXPECT_EQ(track.lastIndex, 6);
    EXPECT_TRUE(sameState(track.states[6], stepped(kStart, 4)[3]));
    EXPECT_EQ(track.advance(-3, 1), 0);
    EXPECT_EQ(track.lastIndex, 7);
}

TEST(TrajectoryTest, TickAfterWrapsInsteadOfOverflowing) {
    EXPECT_EQ(tickAfter(100, 37), 137);
    EXPECT_EQ(tickAfter(-5, 3), -2);
    EXPECT_EQ(tickAfter(std::numeric_limits<std::int32_t>::max(), 1),
              std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace nimbus
