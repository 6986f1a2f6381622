#include "arena/game/builtin_player.hpp"

#include <gtest/gtest.h>

#include "game_fixtures.hpp"

namespace nimbus::arena {
namespace {

using testing::rain;
using testing::settingsFor;
using testing::storm;

// Lets every player be played by the builtin of the given kind until the game ends.
void playOut(Game& game, BuiltinKind kind) {
    while (!game.over()) {
        for (std::int32_t p = 0; p < game.settings().players; ++p) {
            if (auto w = builtinWind(kind, game, p)) {
                EXPECT_TRUE(game.queueWind(p, w->wx, w->wy).accepted);
            }
        }
        game.step();
    }
}

TEST(BuiltinNames, OnlyTheKnownOnesParse) {
    EXPECT_EQ(parseBuiltin("builtin:idle"), BuiltinKind::Idle);
    EXPECT_EQ(parseBuiltin("builtin:greedy"), BuiltinKind::Greedy);
    EXPECT_FALSE(parseBuiltin("builtin:smart").has_value());
    EXPECT_TRUE(looksBuiltin("builtin:smart"));
    EXPECT_FALSE(looksBuiltin("./nimbus-bot"));
}

TEST(BuiltinIdle, NeverBlows) {
    Game game(settingsFor(1, 50), {storm(0, 300, 300), rain(1, 400, 300, 20)});
    playOut(game, BuiltinKind::Idle);
    EXPECT_EQ(game.record(0).winds, 0);
    EXPECT_EQ(game.clouds().size(), 2u);
}

TEST(BuiltinGreedy, ChasesAndSwallowsALighterCloudWithinItsMeans) {
    Game game(settingsFor(1, 1500), {storm(0, 300, 300), rain(1, 500, 380, 30)});
    playOut(game, BuiltinKind::Greedy);
    EXPECT_EQ(game.record(0).swallowed, 1);
    EXPECT_GT(game.record(0).winds, 0);
    EXPECT_EQ(game.record(0).rejectedWinds, 0);
    EXPECT_GT(game.thunderstorm(0)->state.mass, 100.0f);  // gained more than it spent
}

TEST(BuiltinGreedy, FleesAHeavierCloudClosingIn) {
    Game game(settingsFor(1, 10), {storm(0, 600, 360), rain(1, 680, 360, 300, -10, 0)});
    std::optional<Wind> w;
    while (!w && !game.over()) {
        w = builtinWind(BuiltinKind::Greedy, game, 0);
        game.step();
    }
    ASSERT_TRUE(w.has_value());
    EXPECT_LT(w->wx, 0.0f);  // away from the heavy cloud on its right
}

}  // namespace
}  // namespace nimbus::arena
