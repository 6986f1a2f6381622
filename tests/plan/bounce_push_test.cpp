#include "bot/plan/bounce_push.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::handTrack;

CloudState moving(float vx, float vy) {
    return CloudState{640.0f, 360.0f, vx, vy, 100.0f};
}

// Velocity `before` up to step - 1, `after` from step on, `length` states from t0.
Trajectory bounceAt(std::int32_t t0, std::size_t step, CloudState before, CloudState after,
                    std::size_t length = 60, std::int32_t capacity = 1000) {
    std::vector<CloudState> states(length, after);
    for (std::size_t k = 0; k < step; ++k)
        states[k] = before;
    return handTrack(t0, states, capacity);
}

void expectIdle(const Strategy& plan, std::int32_t t0) {
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(plan.startTick, t0);
    EXPECT_EQ(plan.duration, 10);
    EXPECT_EQ(plan.windX, 0.0f);
    EXPECT_EQ(plan.windY, 0.0f);
}

void expectPush(const Strategy& plan, float wx, float wy, std::int32_t start) {
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(plan.windX, wx);
    EXPECT_EQ(plan.windY, wy);
    EXPECT_EQ(plan.startTick, start);
    EXPECT_EQ(plan.duration, 1);
}

TEST(BouncePushTest, SlowBounceOnXIsPushedOn) {
    const Trajectory own = bounceAt(200, 37, moving(2.0f, 0.5f), moving(-1.8f, 0.5f));
    expectPush(bouncePushPlan(own, 200), -25.0f, 0.0f, 237);
}

TEST(BouncePushTest, FastBounceIdles) {
    const Trajectory own = bounceAt(200, 37, moving(8.0f, 0.0f), moving(-6.0f, 0.0f));
    expectIdle(bouncePushPlan(own, 200), 200);
}

TEST(BouncePushTest, SpeedOfExactlyHalfTheRadiusIsStillSlow) {
    // Speed 5 = 0.5 x radius 10; vy starts at 0, so its change is no bounce.
    expectPush(bouncePushPlan(bounceAt(0, 5, moving(2.0f, 0.0f), moving(-3.0f, 4.0f)), 0), -25.0f,
               0.0f, 5);
    expectIdle(bouncePushPlan(bounceAt(0, 5, moving(2.0f, 0.0f), moving(-3.0f, 4.0001f)), 0), 0);
}

TEST(BouncePushTest, BounceOnYPushesAlongY) {
    expectPush(bouncePushPlan(bounceAt(10, 12, moving(0.5f, 2.0f), moving(0.5f, -1.2f)), 10), 0.0f,
               -25.0f, 22);
    expectPush(bouncePushPlan(bounceAt(10, 12, moving(0.5f, -2.0f), moving(0.5f, 1.2f)), 10), 0.0f,
               25.0f, 22);
}

TEST(BouncePushTest, BothAxesAtOnceMeansX) {
    expectPush(bouncePushPlan(bounceAt(0, 9, moving(-2.0f, 1.0f), moving(1.0f, -1.0f)), 0), 25.0f,
               0.0f, 9);
}

TEST(BouncePushTest, ZeroStartComponentNeverBounces) {
    expectIdle(bouncePushPlan(bounceAt(0, 9, moving(0.0f, 2.0f), moving(-1.0f, 2.0f)), 0), 0);
}

TEST(BouncePushTest, NoBounceUpToTheLastComputedStateIdles) {
    expectIdle(bouncePushPlan(bounceAt(0, 60, moving(2.0f, 1.0f), moving(2.0f, 1.0f)), 0), 0);
    // A bounce in the last computed slot is still seen.
    expectPush(bouncePushPlan(bounceAt(0, 59, moving(2.0f, 1.0f), moving(-1.0f, 1.0f)), 0), -25.0f,
               0.0f, 59);
    // A bounce beyond it is not.
    std::vector<CloudState> states(100, moving(-1.0f, 1.0f));
    for (std::size_t k = 0; k < 60; ++k)
        states[k] = moving(2.0f, 1.0f);
    Trajectory own = handTrack(0, states);
    own.lastIndex = 40;
    expectIdle(bouncePushPlan(own, 0), 0);
}

TEST(BouncePushTest, StartAtTheLastComputedSlotIdles) {
    const Trajectory own = handTrack(70, {moving(2.0f, 1.0f)});
    expectIdle(bouncePushPlan(own, 70), 70);
}

TEST(BouncePushTest, ScanStopsAfterAThousandSteps) {
    const CloudState before = moving(2.0f, 1.0f);
    const CloudState after = moving(-1.0f, 1.0f);
    expectPush(bouncePushPlan(bounceAt(0, 1000, before, after, 1100, 1200), 0), -25.0f, 0.0f, 1000);
    expectIdle(bouncePushPlan(bounceAt(0, 1001, before, after, 1100, 1200), 0), 0);
}

TEST(BouncePushTest, NegativeStartTick) {
    const Trajectory own = bounceAt(-20, 37, moving(2.0f, 0.5f), moving(-1.8f, 0.5f));
    expectPush(bouncePushPlan(own, -20), -25.0f, 0.0f, 17);
}

}  // namespace
}  // namespace nimbus
