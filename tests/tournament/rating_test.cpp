// The rating update and the standings built on it, against figures worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "tournament/standings/rating.hpp"
#include "tournament/standings/standings.hpp"

namespace nimbus::tournament {
namespace {

// Three players, B (30, 6) first, A (25, 25/3) second, C (20, 7) third, beta = 25/6:
//   c^2 = (625/9 + 36 + 49) + 3 * 625/36 = 206.5278, c = 14.37107
//   e = exp(mu / c): A 5.69510, B 8.06494, C 4.02162
//   C_q (everyone placed at q or below): B 17.78166, A 9.71671, C 4.02162
//   A: omega = (69.444 / c) * ((1 - 5.69510/9.71671) - 5.69510/17.78166) = +0.45233
//      delta = (25/3 / c) * (69.444 / c^2) * (sum of p(1-p), p = 0.32028 and 0.58611) = 0.08975
//      sigma = 25/3 * sqrt(1 - delta) = 7.95060
//   B: omega = (36 / c) * (1 - 8.06494/17.78166) = +1.36886, sigma = 5.94564
//   C: omega = (49 / c) * (1 - 4.02162/17.78166 - 4.02162/9.71671 - 1) = -2.18234, sigma = 6.82900
// (the same sums evaluated in Python give 25.452333, 31.368865, 17.817657 and 7.950602,
// 5.945643, 6.829002).
TEST(Rating, ThreePlayerGameMatchesTheWorkedFigures) {
    const std::vector<Rating> before{{25.0, 25.0 / 3.0}, {30.0, 6.0}, {20.0, 7.0}};
    const std::vector<Rating> after = rateGame(before, {2, 1, 3});
    ASSERT_EQ(after.size(), 3u);
    EXPECT_NEAR(after[0].mu, 25.452333, 1e-6);
    EXPECT_NEAR(after[1].mu, 31.368865, 1e-6);
    EXPECT_NEAR(after[2].mu, 17.817657, 1e-6);
    EXPECT_NEAR(after[0].sigma, 7.950602, 1e-6);
    EXPECT_NEAR(after[1].sigma, 5.945643, 1e-6);
    EXPECT_NEAR(after[2].sigma, 6.829002, 1e-6);

    // Nothing overflows for ratings far from the start (exp(mu / c) is taken relative).
    const std::vector<Rating> far = rateGame({{5000.0, 1.0}, {4990.0, 1.0}}, {1, 2});
    EXPECT_TRUE(std::isfinite(far[0].mu) && std::isfinite(far[1].mu));
    EXPECT_GT(far[0].mu, 5000.0);
}

SeatResult seat(const std::string& entrant, std::int32_t rank, double mass,
                const std::string& status = "playing") {
    return {entrant, rank, mass, status, ""};
}

GameOutcome game(std::vector<SeatResult> seats) {
    GameOutcome outcome;
    outcome.endReason = "ticks";
    outcome.seats = std::move(seats);
    return outcome;
}

// Two games; "a" holds two seats of the first. Final masses of "a": 110, 90, 100: mean 100,
// s = 10, 95 % half-width t(2) * 10 / sqrt(3) = 4.303 * 5.7735 = 24.8433.
TEST(Standings, CountsSeatsAndTakesEverySeatsRatingChange) {
    Standings standings;
    standings.add(game({seat("a", 1, 110.0), seat("b", 2, 50.0), seat("a", 3, 90.0)}));
    standings.add(game({seat("b", 1, 120.0), seat("a", 2, 100.0, "disconnected")}));

    const std::vector<StandingRow> rows = standings.rows();
    ASSERT_EQ(rows.size(), 2u);
    const StandingRow& a = rows[0].entrant == "a" ? rows[0] : rows[1];
    const StandingRow& b = rows[0].entrant == "a" ? rows[1] : rows[0];
    EXPECT_EQ(standings.games(), 2);
    EXPECT_EQ(a.games, 3);
    EXPECT_EQ(a.wins, 1);
    EXPECT_DOUBLE_EQ(a.meanRank, 2.0);
    EXPECT_DOUBLE_EQ(a.meanFinalMass, 100.0);
    ASSERT_TRUE(a.massHalfWidth.has_value());
    EXPECT_NEAR(*a.massHalfWidth, 24.8433, 1e-3);
    EXPECT_EQ(a.disconnects, 1);
    EXPECT_EQ(b.games, 2);
    EXPECT_EQ(b.wins, 1);

    // The pacing reported is the worst game's; games over 4 ms p99 are counted.
    EXPECT_FALSE(standings.pacing().has_value());
    GameOutcome late = game({seat("a", 1, 1.0), seat("b", 2, 0.0)});
    late.pacing = Pacing{0.2, 4.5, 12.0, 3};
    standings.add(late, "game 3");
    late.pacing = Pacing{0.1, 3.0, 20.0, 2};
    standings.add(late, "game 4");
    ASSERT_TRUE(standings.pacing().has_value());
    EXPECT_EQ(standingsJson(standings)["pacing"],
              nlohmann::json({{"worst_game", "game 3"},
                              {"tick_lag_p50_ms", 0.2},
                              {"tick_lag_p99_ms", 4.5},
                              {"tick_lag_max_ms", 12.0},
                              {"largest_catch_up_ticks", 3},
                              {"games_over_4_ms", 1}}));

    // The first game by hand: every seat starts at (25, 25/3), so a's two seats take the first
    // and the last place's changes from the same update.
    const std::vector<RatingChange> first =
        ratingChanges({Rating{}, Rating{}, Rating{}}, {1, 2, 3});
    Standings one;
    one.add(game({seat("a", 1, 110.0), seat("b", 2, 50.0), seat("a", 3, 90.0)}));
    for (const StandingRow& r : one.rows()) {
        if (r.entrant == "a") {
            EXPECT_NEAR(r.rating.mu, 25.0 + first[0].muDelta + first[2].muDelta, 1e-12);
            EXPECT_NEAR(r.rating.sigma * r.rating.sigma,
                        625.0 / 9.0 * first[0].varianceFactor * first[2].varianceFactor, 1e-9);
        }
    }
}

}  // namespace
}  // namespace nimbus::tournament
