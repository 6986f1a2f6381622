#include "arena/game/game.hpp"

#include <gtest/gtest.h>

#include "game_fixtures.hpp"

#include <cmath>
#include <limits>

#include "arena/game/setup.hpp"
#include "arena/limits.hpp"
#include "bot/physics/numeric.hpp"

namespace nimbus::arena {
namespace {

using testing::rain;
using testing::settingsFor;
using testing::storm;

TEST(GameTick, WindActsBeforeTheMoveOfTheSameTick) {
    Game game(settingsFor(1), {storm(0, 640, 360)});
    ASSERT_TRUE(game.queueWind(0, 2.0f, 0.0f).accepted);
    EXPECT_FLOAT_EQ(game.thunderstorm(0)->state.mass, 100.0f);  // queued, not yet applied
    game.step();
    const CloudState& s = game.thunderstorm(0)->state;
    EXPECT_EQ(game.tick(), 1);
    EXPECT_FLOAT_EQ(s.mass, 98.0f);
    EXPECT_FLOAT_EQ(s.x, 640.1f);   // moved by 0.1 x the new velocity 1.0
    EXPECT_FLOAT_EQ(s.vx, 0.999f);  // then damped
}

TEST(GameTick, QueuedWindsAreCheckedAgainstTheMassLeftAfterEarlierOnes) {
    Game game(settingsFor(1), {storm(0, 640, 360)});
    EXPECT_TRUE(game.queueWind(0, 30.0f, 40.0f).accepted);  // 50 of 100
    EXPECT_TRUE(game.queueWind(0, 15.0f, 20.0f).accepted);  // 25 of the 50 left
    EXPECT_FALSE(game.queueWind(0, 9.0f, 12.0f).accepted);  // 15 of 25: too strong
    game.step();
    const CloudState& s = game.thunderstorm(0)->state;
    EXPECT_FLOAT_EQ(s.mass, 25.0f);
    // (30, 40) x 5 / 10, then (15, 20) x 5 / sqrt(50), then damped.
    EXPECT_NEAR(s.vx, (15.0 + 75.0 / std::sqrt(50.0)) * 0.999, 1e-4);
    EXPECT_NEAR(s.vy, (20.0 + 100.0 / std::sqrt(50.0)) * 0.999, 1e-4);
    EXPECT_EQ(game.record(0).winds, 3);
    EXPECT_EQ(game.record(0).rejectedWinds, 1);
    ASSERT_EQ(game.windLog().size(), 2u);  // only accepted winds are logged
    EXPECT_EQ(game.windLog()[0].tick, 0);
}

TEST(GameTick, AFloodOfWindsIsRefusedBeyondTheBudgetAndLeavesTheLogBounded) {
    // One client once sent 280k WIND a second, each one stored: the log grew without bound.
    Game game(settingsFor(1), {storm(0, 640, 360)});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_FALSE(game.queueWind(0, nan, 0.0f).accepted);
        EXPECT_FALSE(game.queueWind(0, std::numeric_limits<float>::infinity(), 0.0f).accepted);
        for (int i = 0; i < 1000; ++i) {
            game.queueWind(0, 0.0f, 0.0f);
        }
        game.step();
    }
    EXPECT_EQ(game.windLog().size(), static_cast<std::size_t>(3 * (kWindsPerTick - 2)));
    EXPECT_EQ(game.record(0).winds, 3 * 1002);
    EXPECT_EQ(game.record(0).rejectedWinds, 3 * 1002 - 3 * (kWindsPerTick - 2));
    for (const WindEvent& w : game.windLog()) {
        EXPECT_TRUE(std::isfinite(w.wx) && std::isfinite(w.wy));
    }
}

TEST(GameTick, AbsorptionFollowsTheMove) {
    // The raincloud starts outside the radius and moves 2 units into it during the tick.
    Game game(settingsFor(1), {storm(0, 500, 300), rain(1, 511, 300, 10, -20, 0)});
    game.step();
    ASSERT_EQ(game.clouds().size(), 1u);
    EXPECT_FLOAT_EQ(game.thunderstorm(0)->state.mass, 110.0f);
    EXPECT_EQ(game.record(0).swallowed, 1);
    EXPECT_FLOAT_EQ(game.record(0).peakMass, 110.0f);
    ASSERT_EQ(game.swallowLog().size(), 1u);
    EXPECT_EQ(game.swallowLog()[0].tick, 1);
}

TEST(GameEnd, SwallowedPlayerIsOutAndTheLastOneLeftEndsTheGame) {
    Game game(settingsFor(2), {storm(0, 500, 300, 200), storm(1, 505, 300, 100)});
    EXPECT_FALSE(game.over());
    game.step();
    EXPECT_TRUE(game.isOut(1));
    EXPECT_EQ(game.record(1).outAtTick, 1);
    EXPECT_EQ(game.thunderstorm(1), nullptr);
    EXPECT_FALSE(game.queueWind(1, 1.0f, 0.0f).accepted);
    EXPECT_TRUE(game.over());
    game.step();  // a finished game stands still
    EXPECT_EQ(game.tick(), 1);
}

TEST(GameEnd, TickLimitEndsTheGameAndRefusesFurtherWinds) {
    Game game(settingsFor(1, 3), {storm(0, 640, 360)});
    for (int i = 0; i < 5; ++i) {
        game.step();
    }
    EXPECT_EQ(game.tick(), 3);
    EXPECT_TRUE(game.over());
    EXPECT_FALSE(game.queueWind(0, 1.0f, 0.0f).accepted);
}

TEST(GameSetup, SeededStartFollowsTheRules) {
    GameSettings s;
    s.seed = 12345;
    s.players = 4;
    s.rainclouds = 40;
    Game game(s);
    ASSERT_EQ(game.clouds().size(), 44u);
    for (std::int32_t p = 0; p < 4; ++p) {
        const CloudState& a = game.thunderstorm(p)->state;
        EXPECT_EQ(a.mass, 100.0f);
        EXPECT_EQ(a.vx, 0.0f);
        EXPECT_EQ(a.vy, 0.0f);
        for (std::int32_t q = p + 1; q < 4; ++q) {
            const CloudState& b = game.thunderstorm(q)->state;
            EXPECT_GT(std::hypot(a.x - b.x, a.y - b.y), 300.0);
        }
    }
    for (const Cloud& c : game.clouds()) {
        const double r = floatSqrt(c.state.mass);
        EXPECT_GE(c.state.x, r);
        EXPECT_LE(c.state.x, 1280.0 - r);
        EXPECT_GE(c.state.y, r);
        EXPECT_LE(c.state.y, 720.0 - r);
        if (c.kind == CloudKind::Raincloud) {
            EXPECT_EQ(c.owner, -1);
            EXPECT_GE(c.state.mass, 4.0f);
            EXPECT_LE(c.state.mass, 64.0f);
            EXPECT_LE(std::fabs(c.state.vx), 5.0f);
            EXPECT_LE(std::fabs(c.state.vy), 5.0f);
            for (std::int32_t p = 0; p < 4; ++p) {
                const CloudState& t = game.thunderstorm(p)->state;
                EXPECT_GT(std::hypot(c.state.x - t.x, c.state.y - t.y), 10.0 + r);
            }
        }
    }
}

TEST(GameSetup, SameSeedAndWindsGiveTheSameGameBitForBit) {
    GameSettings s;
    s.seed = 777;
    s.players = 3;
    s.ticks = 400;
    auto play = [&s](std::uint64_t seed) {
        s.seed = seed;
        Game game(s);
        std::vector<std::uint64_t> prints;
        while (!game.over()) {
            if (game.tick() % 7 == 0) {
                game.queueWind(game.tick() % 3, 1.5f, -0.75f);
            }
            game.step();
            prints.push_back(game.fingerprint());
        }
        return prints;
    };
    const auto first = play(777);
    EXPECT_EQ(first.size(), 400u);
    EXPECT_EQ(first, play(777));
    EXPECT_NE(first, play(778));
}

}  // namespace
}  // namespace nimbus::arena
