// The default games at once: halved by unfair games, doubled back by a calm spell, and only by
// games started at the current number.
#include <gtest/gtest.h>

#include "tournament/play/games_at_once.hpp"

namespace {

using nimbus::tournament::GamesAtOnce;

TEST(GamesAtOnce, HalvesOnUnfairGamesAndClimbsBackAfterACalmSpell) {
    GamesAtOnce g(8, 2);
    EXPECT_FALSE(g.gameEnded(1, 3.9, 8));  // within 4 ms
    EXPECT_TRUE(g.gameEnded(2, 9.0, 9));
    EXPECT_EQ(g.now(), 4);
    // Games 3..9 were started at 8: they say nothing of 4.
    EXPECT_FALSE(g.gameEnded(9, 9.0, 10));
    EXPECT_TRUE(g.gameEnded(10, 4.5, 12));
    EXPECT_EQ(g.now(), 2);
    EXPECT_FALSE(g.gameEnded(13, 50.0, 14));  // not below the fewest
    EXPECT_EQ(g.now(), 2);

    // Doubling back needs 2 × 2 calm games (p99 ≤ 2 ms) in a row; 3 ms breaks the row.
    EXPECT_FALSE(g.gameEnded(15, 1.0, 16));
    EXPECT_FALSE(g.gameEnded(16, 1.0, 17));
    EXPECT_FALSE(g.gameEnded(17, 1.0, 18));
    EXPECT_FALSE(g.gameEnded(18, 3.0, 19));
    for (int n = 19; n <= 21; ++n) {
        EXPECT_FALSE(g.gameEnded(n, 2.0, n + 1));
    }
    EXPECT_TRUE(g.gameEnded(22, 2.0, 23));
    EXPECT_EQ(g.now(), 4);
    for (int n = 24; n <= 30; ++n) {
        EXPECT_FALSE(g.gameEnded(n, 0.5, n + 3));
    }
    EXPECT_TRUE(g.gameEnded(31, 0.5, 34));
    EXPECT_EQ(g.now(), 8);
    for (int n = 35; n <= 60; ++n) {
        EXPECT_FALSE(g.gameEnded(n, 0.5, n + 7));  // never above the most
    }
    EXPECT_EQ(g.now(), 8);
}

TEST(GamesAtOnce, AGivenNumberStays) {
    GamesAtOnce g(16, 0);
    EXPECT_FALSE(g.gameEnded(1, 100.0, 16));
    EXPECT_EQ(g.now(), 16);
}

}  // namespace
