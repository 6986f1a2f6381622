// The control cycle and its waits on virtual time, against the test game server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bot/control/target_track.hpp"
#include "bot/control/wind_command.hpp"
#include "bot/physics/motion.hpp"
#include "tests/control/control_fixture.hpp"

namespace nimbus::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// --- the wind command ---

TEST(WindCommandTest, FormatsBothComponentsWithSixDecimals) {
    const std::string text = formatWind(1.5f, -2.25f);
    EXPECT_EQ(text, "WIND 1.500000 -2.250000\n");
    EXPECT_EQ(text.size(), 24u);
    EXPECT_EQ(formatWind(0.0f, -3.571134f), "WIND 0.000000 -3.571134\n");
    EXPECT_EQ(formatWind(-0.0f, 86.17217f), "WIND -0.000000 86.172173\n");
}

TEST(WindCommandTest, LongWindsAreSentWholeNeverCut) {
    EXPECT_EQ(formatWind(123456.5f, -99999.25f), "WIND 123456.500000 -99999.250000\n");
    const std::string huge = formatWind(3e38f, -3e38f);
    EXPECT_EQ(huge.substr(0, 5), "WIND ");
    EXPECT_EQ(huge.back(), '\n');
    EXPECT_GT(huge.size(), 80u);
}

// --- the first wait, until the action tick (tick 110 is due at reading 1160) ---

struct FirstWaitCase {
    std::int32_t remaining;
    std::vector<std::string> lines;  // what the server saw before the end-of-plan refresh
    std::int32_t firstSleep;
};

class FirstWaitTest : public ::testing::TestWithParam<FirstWaitCase> {};

TEST_P(FirstWaitTest, RemainingTimeChoosesWatchSleepOrNothing) {
    const FirstWaitCase& c = GetParam();
    VirtualGame game(quietWorld());
    game.clock.set(1160 - c.remaining);
    Strategy plan = directPlan(5, 0, 110, 1);
    EXPECT_TRUE(game.play(plan));
    const auto lines = game.lines();
    ASSERT_GE(lines.size(), c.lines.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + c.lines.size()), c.lines);
    EXPECT_EQ(game.clock.sleeps().at(0), c.firstSleep);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FirstWaitTest,
    ::testing::Values(
        // 111 ms: watched; the watch's only step sleeps it all and refreshes before the wind.
        FirstWaitCase{111, {"GET_STATE", "WIND 5.000000 0.000000", "GET_STATE"}, 111},
        FirstWaitCase{110, {"WIND 5.000000 0.000000", "GET_STATE"}, 110},
        FirstWaitCase{11, {"WIND 5.000000 0.000000", "GET_STATE"}, 11},
        // 10 ms: no wait; the first sleep is the end wait's shortest step.
        FirstWaitCase{10, {"WIND 5.000000 0.000000", "GET_STATE"}, 110}));

TEST(ControlCycleTest, WorkedCycleSleepsThirtyFourThenWatchesUntilTheEnd) {
    // lastTick 200 at reading 400, 16 ms per tick, drift 0.25; action tick 203, end tick 230.
    SimWorld world = quietWorld();
    world.tick = 200;
    VirtualGame game(world, nullptr, 400);
    game.bot->tickClock.tickDrift = 0.25f;
    game.clock.set(410);
    Strategy plan = directPlan(1, 1, 203, 27);
    EXPECT_TRUE(game.play(plan));
    const auto sleeps = game.clock.sleeps();
    ASSERT_GE(sleeps.size(), 3u);
    EXPECT_EQ(sleeps[0], 34);   // until (3 - 0.25) x 16 + 400 = 444
    EXPECT_EQ(sleeps[1], 110);  // 430 ms to 880 are left: sleep, refresh, calibrate, watch
    const auto log = game.server.log();
    EXPECT_EQ(log.at(0).line, "WIND 1.000000 1.000000");
    EXPECT_EQ(log.at(0).timeMs, 44);
    EXPECT_EQ(log.at(1).line, "GET_STATE");
    EXPECT_EQ(log.at(1).timeMs, 154);
    EXPECT_GE(game.clock.now(), 880);
    EXPECT_LT(game.clock.now(), 880 + 110);
}

// --- the second wait, until the end tick ---

struct SecondWaitCase {
    std::int32_t duration;
    std::int32_t reading;  // the action tick 100 is at hand; E = 100 + duration
    std::int32_t remaining;
    std::int32_t firstSleep;
    bool watched;
};

class SecondWaitTest : public ::testing::TestWithParam<SecondWaitCase> {};

TEST_P(SecondWaitTest, RemainingTimeChoosesWatchOrOneSleep) {
    const SecondWaitCase& c = GetParam();
    ASSERT_EQ(c.duration * 16 + kStartReading - c.reading, c.remaining);
    VirtualGame game(quietWorld());
    game.clock.set(c.reading);
    Strategy plan = directPlan(0, 0, 100, c.duration);
    EXPECT_TRUE(game.play(plan));
    const auto sleeps = game.clock.sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps[0], c.firstSleep);
    EXPECT_TRUE(game.bot->tickClock.windSkipped);
    const int states = countLines(game.server.log(), "GET_STATE");
    if (c.watched) {
        EXPECT_GT(sleeps.size(), 1u);
        EXPECT_GT(states, 1);
    } else {
        EXPECT_EQ(sleeps.size(), 1u);
        EXPECT_EQ(states, 1);
    }
    EXPECT_EQ(countLines(game.server.log(), "WIND"), 0);  // a zero wind is not sent
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SecondWaitTest,
                         ::testing::Values(SecondWaitCase{21, 1005, 331, 110, true},
                                           SecondWaitCase{21, 1006, 330, 330, false},
                                           SecondWaitCase{7, 1001, 111, 111, false},
                                           SecondWaitCase{7, 1002, 110, 110, false},
                                           SecondWaitCase{1, 1100, -84, 110, false}));

// --- the watching waits ---

TEST(WaitForPlanEndTest, TwoHundredTwentyOneGivesOneStepThenARecomputedPass) {
    VirtualGame game(quietWorld());
    game.clock.set(1003);  // tick 114 is due at 1224
    EXPECT_FALSE(game.bot->waitForPlanEnd(game.snapshot, 114, nullptr));
    const auto sleeps = game.clock.sleeps();
    ASSERT_EQ(sleeps.size(), 2u);
    EXPECT_EQ(sleeps[0], 110);
    EXPECT_GT(sleeps[1], 110);
    EXPECT_LE(sleeps[1], 120);
    EXPECT_EQ(countLines(game.server.log(), "GET_STATE"), 2);
}

TEST(WaitForPlanEndTest, FiveHundredGivesThreeStepsAndTheRest) {
    VirtualGame game(quietWorld());
    game.clock.set(1012);  // tick 132 is due at 1512
    EXPECT_FALSE(game.bot->waitForPlanEnd(game.snapshot, 132, nullptr));
    const auto sleeps = game.clock.sleeps();
    ASSERT_EQ(sleeps.size(), 4u);
    EXPECT_THAT(std::vector<std::int32_t>(sleeps.begin(), sleeps.begin() + 3),
                ElementsAre(110, 110, 110));
    EXPECT_NEAR(sleeps[3], 170, 16);
    EXPECT_EQ(countLines(game.server.log(), "GET_STATE"), 4);
}

TEST(WaitForPlanEndTest, ThreatInTheCallersSnapshotReturnsBeforeAnySleep) {
    VirtualGame game(quietWorld());
    game.snapshot.rainclouds.push_back(threateningRaincloud());
    EXPECT_TRUE(game.bot->waitForPlanEnd(game.snapshot, 200, nullptr));
    EXPECT_TRUE(game.clock.sleeps().empty());
    EXPECT_TRUE(game.server.log().empty());
}

TEST(WaitForWindTickTest, ThreatSeenInTheLastPassStillDropsThePlan) {
    SimWorld world = quietWorld();
    world.rainclouds.push_back(threateningRaincloud());
    VirtualGame game(world);  // the caller's snapshot does not show the raincloud yet
    game.clock.set(1010);     // tick 110 due at 1160: 150 ms, a single last pass
    EXPECT_TRUE(game.bot->waitForWindTick(game.snapshot, 110, game.snapshot.own, nullptr));
    EXPECT_THAT(game.clock.sleeps(), ElementsAre(150));
    EXPECT_EQ(game.snapshot.rainclouds.size(), 1u);
}

TEST(WaitForWindTickTest, RunsToItsEndWithoutTrackWhenNothingThreatens) {
    VirtualGame game(quietWorld());
    EXPECT_FALSE(game.bot->waitForWindTick(game.snapshot, 130, game.snapshot.own, nullptr));
    const auto sleeps = game.clock.sleeps();
    ASSERT_EQ(sleeps.size(), 4u);  // 480 ms: 110, 110, then the rest in one or two steps
    EXPECT_EQ(game.bot->tickClock.plannedTick, 130);
    EXPECT_FALSE(game.bot->tickClock.windSkipped);
}

TEST(WaitForWindTickTest, ThreatDropsTheCycleWithoutAWind) {
    SimWorld world = quietWorld();
    world.rainclouds.push_back(threateningRaincloud());
    VirtualGame game(world);
    Strategy plan = directPlan(7, 0, 130, 1);  // due 480 ms ahead: watched
    EXPECT_FALSE(game.play(plan));
    EXPECT_EQ(countLines(game.server.log(), "WIND"), 0);
    EXPECT_EQ(countLines(game.server.log(), "GET_STATE"), 1);
}

TEST(WaitsOnADeadLinkTest, EndWithinOneStepWithOrWithoutTrack) {
    auto closeAtOnce = [](const std::vector<SimEntry>& log) { return !log.empty(); };
    {
        VirtualGame game(quietWorld(), closeAtOnce);
        CaptureStdout();
        EXPECT_FALSE(game.bot->waitForWindTick(game.snapshot, 100000, game.snapshot.own, nullptr));
        EXPECT_EQ(GetCapturedStdout(), "connection closed while waiting for data\n");
        EXPECT_THAT(game.clock.sleeps(), ElementsAre(110));
    }
    {
        VirtualGame game(quietWorld(), closeAtOnce);
        CaptureStdout();
        EXPECT_FALSE(game.bot->waitForPlanEnd(game.snapshot, 100000, nullptr));
        GetCapturedStdout();
        EXPECT_THAT(game.clock.sleeps(), ElementsAre(110));
    }
}

// --- plans with follow-up stages and chase targets ---

// A chase plan made by hand: target at rest at (300, 200), top stage at tick 100 ending at 140,
// its last stage blowing (3, 4) at tick 120.
Strategy chainedChase() {
    Strategy top;
    top.startTick = 100;
    top.duration = 40;
    top.targetState = cloud(300, 200, 0, 0, 20);
    auto* middle = new Strategy;
    middle->startTick = 110;
    middle->duration = 30;
    middle->windX = 9;
    middle->windY = 9;
    auto* last = new Strategy;
    last->startTick = 120;
    last->duration = 20;
    last->windX = 3;
    last->windY = 4;
    middle->followUp = last;
    top.followUp = middle;
    top.depth = 2;
    return top;
}

TEST(FollowUpPlanTest, ActsOnTheLastStageAndEndsAtTheTopPlansEnd) {
    SimWorld world = quietWorld();
    world.rainclouds.push_back(cloud(300, 200, 0, 0, 20));  // the target, where it is predicted
    VirtualGame game(world);
    Strategy plan = chainedChase();
    EXPECT_TRUE(game.play(plan));
    EXPECT_EQ(plan.followUp, nullptr);  // the chain was released (asan checks the rest)

    const auto log = game.server.log();
    std::int32_t windTick = -1;
    for (const auto& e : log) {
        if (e.line.rfind("WIND", 0) == 0) {
            EXPECT_EQ(e.line, "WIND 3.000000 4.000000");
            windTick = e.tick;
        }
    }
    EXPECT_GE(windTick, 119);
    EXPECT_LE(windTick, 120);
    EXPECT_GE(log.back().tick, 140);
    EXPECT_LE(log.back().tick, 148);
}

TEST(FollowUpPlanTest, LostTargetDropsThePlanBeforeTheWind) {
    VirtualGame game(quietWorld());  // the target is nowhere
    Strategy plan = chainedChase();
    EXPECT_FALSE(game.play(plan));
    EXPECT_EQ(plan.followUp, nullptr);
    EXPECT_EQ(countLines(game.server.log(), "WIND"), 0);
}

// A chase plan (no follow-up) whose target starts at target at tick start.
Strategy chasePlan(std::int32_t start, std::int32_t duration, CloudState target) {
    Strategy plan;
    plan.startTick = start;
    plan.duration = duration;
    plan.targetState = target;
    return plan;
}

TEST(TargetTrackTest, PresentWithinSquaredDistanceBelowOne) {
    const TargetTrack track(chasePlan(100, 50, cloud(500, 300, 0, 0, 20)));
    EXPECT_EQ(track.firstTick(), 100);
    EXPECT_EQ(track.lastTick(), 150);

    WorldSnapshot snapshot;
    snapshot.tick = 105;
    snapshot.rainclouds.push_back(cloud(500.5f, 300.5f, 0, 0, 20));
    EXPECT_FALSE(track.lostIn(snapshot));
    snapshot.rainclouds.front() = cloud(501, 300, 0, 0, 20);
    EXPECT_TRUE(track.lostIn(snapshot));
    snapshot.rainclouds.clear();
    snapshot.rivals.push_back(cloud(500, 300.9f, 0, 0, 20));
    EXPECT_FALSE(track.lostIn(snapshot));
}

TEST(TargetTrackTest, TicksOutsideThePredictionNeverCountAsLost) {
    const TargetTrack track(chasePlan(100, 50, cloud(500, 300, 0, 0, 20)));
    WorldSnapshot empty;
    for (std::int32_t tick : {99, 151, 152, -5, 2147483647}) {
        empty.tick = tick;
        EXPECT_FALSE(track.lostIn(empty)) << tick;
    }
    empty.tick = 150;
    EXPECT_TRUE(track.lostIn(empty));
}

TEST(TargetTrackTest, FollowsAMovingTargetFromThePlansStartTick) {
    // A fast target, 40 units per tick: the track must place it at the plan's start tick.
    const Strategy plan = chasePlan(103, 10, cloud(100, 300, 400, 0, 20));
    const TargetTrack track(plan);
    CloudState expected = plan.targetState;
    WorldSnapshot snapshot;
    for (std::int32_t tick = 103; tick <= 113; ++tick) {
        snapshot.tick = tick;
        snapshot.rainclouds = {expected};
        EXPECT_FALSE(track.lostIn(snapshot)) << tick;
        moveOneTick(expected);
    }
}

TEST(ControlCycleTest, EvasionIsBlownAtOnceAfterTheState) {
    SimWorld world = quietWorld();
    world.rainclouds.push_back(threateningRaincloud());
    VirtualGame game(world);
    game.snapshot.rainclouds.push_back(threateningRaincloud());
    game.bot->runCycle(game.snapshot);
    const auto lines = game.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "WIND 0.000000 -3.571134");
    EXPECT_EQ(lines[1], "GET_STATE");
}

TEST(ControlCycleTest, HugeWindIsSentWhole) {
    VirtualGame game(quietWorld());
    Strategy plan = directPlan(12345.5f, -67890.25f, 100, 1);
    game.play(plan);
    EXPECT_EQ(game.lines().at(0), "WIND 12345.500000 -67890.250000");
}

}  // namespace
}  // namespace nimbus::testing
