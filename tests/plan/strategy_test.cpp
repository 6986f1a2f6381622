#include "bot/plan/strategy.hpp"

#include <gtest/gtest.h>

namespace nimbus {
namespace {

// A chain of three stages built by hand, the way the chase planner links them.
struct ThreeStages {
    Strategy top;
    ThreeStages() {
        top.startTick = 100;
        top.duration = 60;
        top.windX = 1.0f;
        top.windY = 2.0f;
        top.followUp = new Strategy();
        Strategy& second = *top.followUp;
        second.startTick = 110;
        second.duration = 50;
        second.windX = 3.0f;
        second.followUp = new Strategy();
        Strategy& third = *second.followUp;
        third.startTick = 130;
        third.duration = 30;
        third.windX = -7.5f;
        third.windY = 0.25f;
    }
};

TEST(StrategyTest, IdlePlan) {
    Strategy plan;
    plan.setDirect(0.0f, 0.0f, 250, 10);
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(plan.actionTick(), 250);
    EXPECT_EQ(plan.actionWind().x, 0.0f);
    EXPECT_EQ(plan.actionWind().y, 0.0f);
    EXPECT_EQ(plan.endTick(), 260);
}

TEST(StrategyTest, SetDirectChangesOnlyItsFourFieldsAndTheFlag) {
    Strategy plan;
    plan.gain = 3.5f;
    plan.depth = 2;
    plan.reserved = 9;
    plan.ownState.mass = 80.0f;
    plan.targetState.x = 12.0f;
    plan.setDirect(-25.0f, 4.0f, 37, 1);
    EXPECT_EQ(plan.windX, -25.0f);
    EXPECT_EQ(plan.windY, 4.0f);
    EXPECT_EQ(plan.startTick, 37);
    EXPECT_EQ(plan.duration, 1);
    EXPECT_TRUE(plan.isDirect);
    EXPECT_EQ(plan.gain, 3.5f);
    EXPECT_EQ(plan.depth, 2);
    EXPECT_EQ(plan.reserved, 9);
    EXPECT_EQ(plan.ownState.mass, 80.0f);
    EXPECT_EQ(plan.targetState.x, 12.0f);
    // Applied again it overwrites the earlier values.
    plan.setDirect(0.0f, 0.0f, 40, 10);
    EXPECT_EQ(plan.endTick(), 50);
}

TEST(StrategyTest, ChainOfThreeActsAtItsLastStage) {
    ThreeStages chain;
    EXPECT_EQ(chain.top.actionTick(), 130);
    EXPECT_EQ(chain.top.actionWind().x, -7.5f);
    EXPECT_EQ(chain.top.actionWind().y, 0.25f);
    EXPECT_EQ(chain.top.followUp->actionTick(), 130);
    // The end tick is the top plan's own, which reaches the end of the last stage.
    EXPECT_EQ(chain.top.endTick(), 160);
    EXPECT_EQ(chain.top.followUp->followUp->endTick(), chain.top.endTick());
    chain.top.releaseFollowUps();
    EXPECT_EQ(chain.top.followUp, nullptr);
    EXPECT_EQ(chain.top.actionTick(), 100);
    EXPECT_EQ(chain.top.actionWind().x, 1.0f);
}

TEST(StrategyTest, CopiesShareTheChainAndDestructionLeavesIt) {
    ThreeStages chain;
    {
        const Strategy copy = chain.top;
        EXPECT_EQ(copy.followUp, chain.top.followUp);
        Strategy assigned;
        assigned = copy;
        EXPECT_EQ(assigned.followUp, chain.top.followUp);
    }
    // Both copies are gone; every stage is still reachable through the original.
    EXPECT_EQ(chain.top.actionTick(), 130);
    EXPECT_EQ(chain.top.followUp->followUp->windX, -7.5f);
    chain.top.releaseFollowUps();
}

TEST(StrategyTest, ReleasingWithoutChainChangesNothing) {
    Strategy plan;
    plan.setDirect(1.0f, 2.0f, 3, 4);
    plan.releaseFollowUps();
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(plan.windX, 1.0f);
    EXPECT_EQ(plan.endTick(), 7);
}

}  // namespace
}  // namespace nimbus
