// The chase planner (Strategy::plan) on hand-made and predicted paths.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bot/physics/wind_law.hpp"
#include "bot/plan/strategy.hpp"
#include "plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::fixed6;
using testing::handTrack;
using testing::repeated;
using testing::still;

const CloudState kOwnAtRest = still(100.0f, 360.0f, 100.0f);
const CloudState kFarTarget = still(800.0f, 360.0f, 20.0f);

CloudState ownMoving(float vx) {
    return CloudState{100.0f, 360.0f, vx, 0.0f, 100.0f};
}

// Own path with velocity +1 up to offset 20, -1 up to offset 40, +1 up to `length` - 1: wall
// bounces at offsets 21 and 41.
std::vector<CloudState> bouncingOwn(std::size_t length) {
    std::vector<CloudState> own;
    for (std::size_t k = 0; k < length; ++k)
        own.push_back(ownMoving(k <= 20 || k > 40 ? 1.0f : -1.0f));
    return own;
}

// Checks the chain rules: stages start at least 4 ticks apart, a parent that keeps its follow-up
// carries its gain, ends with it and counts its depth.
void expectChainRules(const Strategy& top) {
    for (const Strategy* s = &top; s->followUp != nullptr; s = s->followUp) {
        const Strategy& next = *s->followUp;
        EXPECT_GE(next.startTick, s->startTick + 4);
        EXPECT_EQ(s->gain, next.gain);
        EXPECT_EQ(s->endTick(), next.endTick());
        EXPECT_EQ(s->depth, next.depth + 1);
        EXPECT_FALSE(next.isDirect);
    }
}

TEST(ChaseTest, WorkedCatchAtOneHundredTicks) {
    // The target is 60 away only at offset 100; elsewhere it is out of reach. The path wraps
    // over the end of the buffer, and the target's own bounces do not matter.
    auto target = repeated(kFarTarget, 102);
    for (std::size_t k = 0; k < target.size(); ++k)
        target[k].vx = k % 2 ? 3.0f : -3.0f;
    target[100] = still(160.0f, 360.0f, 20.0f);
    const Trajectory own = handTrack(950, repeated(kOwnAtRest, 102));
    const Trajectory tracked = handTrack(950, target);

    Strategy plan;
    const PlanSummary summary = plan.plan(950, own, tracked, 0.0f);
    EXPECT_EQ(summary.duration, 100);
    EXPECT_EQ(fixed6(summary.gain), "9.496665");
    EXPECT_EQ(summary.depth, 0);
    EXPECT_EQ(summary.reserved, 0);
    EXPECT_NEAR(summary.gain / summary.duration, 0.09497, 1e-5);
    EXPECT_EQ(fixed6(plan.windX), "10.503335");
    EXPECT_EQ(plan.windY, 0.0f);
    EXPECT_EQ(plan.startTick, 950);
    EXPECT_EQ(plan.ownState.mass, 100.0f);
    EXPECT_EQ(plan.targetState.x, 800.0f);  // the target at the start tick, not at the catch
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_FALSE(plan.isDirect);
}

TEST(ChaseTest, UnaffordableCatchGivesNothing) {
    auto target = repeated(kFarTarget, 102);
    target[10] = still(160.0f, 360.0f, 20.0f);
    Strategy plan;
    const PlanSummary summary =
        plan.plan(0, handTrack(0, repeated(kOwnAtRest, 102)), handTrack(0, target), 0.0f);
    EXPECT_EQ(summary.duration, 5);
    EXPECT_EQ(summary.gain, 0.0f);
    EXPECT_EQ(plan.windX, 0.0f);
}

TEST(ChaseTest, TrajectoriesEndingRightAfterTheStartGiveNothing) {
    const CloudState overlapping = still(100.0f, 360.0f, 20.0f);
    for (std::size_t ownLength : {2u, 50u}) {
        const std::size_t targetLength = ownLength == 2 ? 50 : 2;
        Strategy plan;
        const PlanSummary summary =
            plan.plan(7, handTrack(7, repeated(ownMoving(1.0f), ownLength)),
                      handTrack(7, repeated(overlapping, targetLength)), 0.0f);
        EXPECT_EQ(summary.duration, 5);
        EXPECT_EQ(summary.gain, 0.0f);
        EXPECT_EQ(plan.windX, 0.0f);
        EXPECT_EQ(plan.windY, 0.0f);
        EXPECT_EQ(plan.followUp, nullptr);
    }
}

TEST(ChaseTest, TargetInsideTheBotCostsNothingAndEndsTheSearchAtTheNextAffordableTick) {
    auto target = repeated(kFarTarget, 20);
    target[3] = still(105.0f, 360.0f, 20.0f);
    target[4] = still(105.0f, 360.0f, 20.0f);
    // A far better catch later is never reached: the search ended at offset 4.
    target[8] = still(100.0f, 360.0f, 1000.0f);
    Strategy plan;
    const PlanSummary summary =
        plan.plan(0, handTrack(0, repeated(kOwnAtRest, 20)), handTrack(0, target), 0.0f);
    EXPECT_EQ(summary.duration, 3);
    EXPECT_EQ(summary.gain, 20.0f);
    EXPECT_EQ(plan.windX, 0.0f);
    EXPECT_EQ(plan.windY, 0.0f);
}

TEST(ChaseTest, CostBelowOneBlowsNoWindButIsStillPaid) {
    auto target = repeated(kFarTarget, 102);
    target[100] = still(100.0f, 372.0f, 20.0f);
    Strategy plan;
    const PlanSummary summary =
        plan.plan(0, handTrack(0, repeated(kOwnAtRest, 102)), handTrack(0, target), 0.0f);
    const float cost = rimCatchCost(10.0f, 12.0f, chaseShiftSum(100));
    ASSERT_GT(cost, 0.0f);
    ASSERT_LT(cost, 1.0f);
    EXPECT_EQ(summary.duration, 100);
    EXPECT_EQ(summary.gain, static_cast<float>(20.0 - cost));
    EXPECT_EQ(plan.windX, 0.0f);
    EXPECT_EQ(plan.windY, 0.0f);
}

TEST(ChaseTest, CostEqualToTheTargetMassIsAffordableAndEndsTheSearch) {
    const float cost = rimCatchCost(10.0f, 60.0f, chaseShiftSum(100));
    // A free catch of 20 at offset 150 would pay well, but the search never gets there.
    for (float massAt100 : {cost, std::nextafter(cost, 0.0f)}) {
        auto target = repeated(kFarTarget, 160);
        target[100] = still(160.0f, 360.0f, massAt100);
        target[150] = still(100.0f, 360.0f, 20.0f);
        Strategy plan;
        const PlanSummary summary =
            plan.plan(0, handTrack(0, repeated(kOwnAtRest, 160)), handTrack(0, target), 0.0f);
        if (massAt100 == cost) {
            EXPECT_EQ(summary.gain, 0.0f);
            EXPECT_EQ(summary.duration, 5);
        } else {
            EXPECT_EQ(summary.gain, 20.0f);
            EXPECT_EQ(summary.duration, 150);
        }
    }
}

TEST(ChaseTest, DiagonalWindPointsAtTheTarget) {
    auto target = repeated(kFarTarget, 302);
    target[300] = still(130.0f, 400.0f, 20.0f);  // 50 away along (0.6, 0.8)
    Strategy plan;
    plan.plan(0, handTrack(0, repeated(kOwnAtRest, 302)), handTrack(0, target), 0.0f);
    const float cost = rimCatchCost(10.0f, 50.0f, chaseShiftSum(300));
    EXPECT_EQ(plan.duration, 300);
    EXPECT_FLOAT_EQ(plan.windX, 0.6f * cost);
    EXPECT_FLOAT_EQ(plan.windY, 0.8f * cost);
}

TEST(ChaseTest, ReserveAndHalfMassLimitTheCost) {
    auto target = repeated(kFarTarget, 102);
    target[100] = still(160.0f, 360.0f, 20.0f);  // costs 10.503335
    const Trajectory own = handTrack(0, repeated(kOwnAtRest, 102));
    const Trajectory tracked = handTrack(0, target);
    // limit = 100 - 20 - reserve - 1
    for (float reserve : {60.0f, 69.0f, 70.0f}) {
        Strategy plan;
        const PlanSummary summary = plan.plan(0, own, tracked, reserve);
        EXPECT_EQ(summary.gain > 0.0f, reserve == 60.0f) << "reserve " << reserve;
    }
    // A target only 1.0 lighter leaves a limit of 0: only free catches.
    auto heavy = repeated(still(800.0f, 360.0f, 99.0f), 102);
    heavy[100] = still(160.0f, 360.0f, 99.0f);
    Strategy costly;
    EXPECT_EQ(costly.plan(0, own, handTrack(0, heavy), 0.0f).gain, 0.0f);
    heavy[7] = still(100.0f, 360.0f, 99.0f);
    Strategy free;
    const PlanSummary summary = free.plan(0, own, handTrack(0, heavy), 0.0f);
    EXPECT_EQ(summary.gain, 99.0f);
    EXPECT_EQ(summary.duration, 7);
}

TEST(ChaseTest, BotBelowMassTwoCannotAffordEvenAFreeCatch) {
    const CloudState tiny = still(100.0f, 360.0f, 1.5f);
    Strategy plan;
    const PlanSummary summary =
        plan.plan(0, handTrack(0, repeated(tiny, 20)),
                  handTrack(0, repeated(still(100.0f, 360.0f, 0.25f), 20)), 0.0f);
    EXPECT_EQ(summary.gain, 0.0f);
    EXPECT_EQ(summary.duration, 5);
}

TEST(ChaseTest, FollowUpAfterTheBounceIsKeptWhenItPaysMore) {
    auto target = repeated(kFarTarget, 41);
    target[30] = still(100.0f, 372.0f, 20.0f);
    const Trajectory own = handTrack(500, bouncingOwn(41));
    Strategy plan;
    const PlanSummary summary = plan.plan(500, own, handTrack(500, target), 0.0f);

    ASSERT_NE(plan.followUp, nullptr);
    const Strategy& next = *plan.followUp;
    const float cost = rimCatchCost(10.0f, 12.0f, chaseShiftSum(6));
    ASSERT_GE(cost, 1.0f);
    // Bounce at offset 21, follow-up three ticks later.
    EXPECT_EQ(next.startTick, 524);
    EXPECT_EQ(next.duration, 6);
    EXPECT_EQ(next.gain, static_cast<float>(20.0 - cost));
    EXPECT_EQ(summary.duration, 30);
    EXPECT_EQ(summary.gain, next.gain);
    EXPECT_EQ(summary.depth, 1);
    EXPECT_EQ(plan.windX, 0.0f);
    EXPECT_EQ(plan.windY, 0.0f);
    EXPECT_EQ(plan.actionTick(), 524);
    EXPECT_EQ(plan.actionWind().x, 0.0f);
    EXPECT_EQ(plan.actionWind().y, cost);
    EXPECT_EQ(plan.endTick(), 530);
    expectChainRules(plan);
    plan.releaseFollowUps();
}

TEST(ChaseTest, FollowUpIsReleasedWhenTheFirstCatchPaysMore) {
    auto target = repeated(kFarTarget, 41);
    target[5] = still(100.0f, 360.0f, 20.0f);
    target[30] = still(100.0f, 372.0f, 20.0f);
    Strategy plan;
    const PlanSummary summary =
        plan.plan(500, handTrack(500, bouncingOwn(41)), handTrack(500, target), 0.0f);
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(summary.duration, 5);
    EXPECT_EQ(summary.gain, 20.0f);
    EXPECT_EQ(summary.depth, 0);
}

TEST(ChaseTest, FollowUpWithAnEqualRateIsReleased) {
    // First catch: 20 in 12 ticks. Follow-up: mass at offset 30, counted over 30 ticks from t.
    for (float later : {50.0f, 51.0f}) {
        auto target = repeated(kFarTarget, 41);
        target[12] = still(100.0f, 360.0f, 20.0f);
        target[30] = still(100.0f, 360.0f, later);
        Strategy plan;
        const PlanSummary summary =
            plan.plan(0, handTrack(0, bouncingOwn(41)), handTrack(0, target), 0.0f);
        if (later == 50.0f) {
            EXPECT_EQ(plan.followUp, nullptr);
            EXPECT_EQ(summary.duration, 12);
            EXPECT_EQ(summary.gain, 20.0f);
        } else {
            ASSERT_NE(plan.followUp, nullptr);
            EXPECT_EQ(summary.duration, 30);
            EXPECT_EQ(summary.gain, 51.0f);
        }
        plan.releaseFollowUps();
    }
}

TEST(ChaseTest, TwoBouncesGiveAChainOfThreeStages) {
    auto target = repeated(kFarTarget, 71);
    target[60] = still(100.0f, 372.0f, 20.0f);
    Strategy plan;
    const PlanSummary summary =
        plan.plan(200, handTrack(200, bouncingOwn(71)), handTrack(200, target), 0.0f);
    ASSERT_NE(plan.followUp, nullptr);
    ASSERT_NE(plan.followUp->followUp, nullptr);
    const Strategy& third = *plan.followUp->followUp;
    EXPECT_EQ(third.followUp, nullptr);
    EXPECT_EQ(plan.followUp->startTick, 224);
    EXPECT_EQ(third.startTick, 244);
    EXPECT_EQ(third.duration, 16);
    EXPECT_EQ(summary.depth, 2);
    EXPECT_EQ(summary.duration, 60);
    EXPECT_EQ(plan.actionTick(), 244);
    EXPECT_EQ(plan.actionWind().y, rimCatchCost(10.0f, 12.0f, chaseShiftSum(16)));
    EXPECT_EQ(plan.endTick(), 260);
    expectChainRules(plan);
    plan.releaseFollowUps();
    EXPECT_EQ(plan.followUp, nullptr);
}

TEST(ChaseTest, PredictedPathsAcrossWallBouncesKeepTheChainRules) {
    // A fast bot crossing the arena and back, a slow target drifting near the far side.
    Trajectory own(1000);
    own.predict(40, 500, CloudState{200.0f, 360.0f, 80.0f, 5.0f, 100.0f});
    Trajectory target(1000);
    target.predict(40, 500, CloudState{300.0f, 600.0f, -2.0f, 1.0f, 30.0f});
    Strategy plan;
    const PlanSummary summary = plan.plan(43, own, target, 0.0f);
    EXPECT_GT(summary.gain, 0.0f);
    EXPECT_GE(summary.depth, 1);
    EXPECT_LT(plan.endTick(), 540);
    expectChainRules(plan);
    plan.releaseFollowUps();
}

}  // namespace
}  // namespace nimbus
