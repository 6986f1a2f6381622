// The seat rotation: fair shares of games at every point, every seat and seed for everyone.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tournament/play/schedule.hpp"

namespace nimbus::tournament {
namespace {

TEST(Schedule, EveryEntrantPlaysWithinOneGameOfTheOthersAndTakesEverySeatEachRound) {
    for (std::int32_t roster = 1; roster <= 7; ++roster) {
        for (std::int32_t seats = 1; seats <= 9; ++seats) {
            SCOPED_TRACE("roster " + std::to_string(roster) + ", seats " + std::to_string(seats));
            std::vector<std::int32_t> played(roster, 0);
            std::vector<std::set<std::int32_t>> seatsTaken(roster);
            for (std::int32_t n = 1; n <= 3 * roster + 2; ++n) {
                const GameSpec game = scheduledGame(n, roster, seats, 40);
                ASSERT_EQ(game.number, n);
                ASSERT_EQ(game.seats.size(), static_cast<std::size_t>(seats));
                EXPECT_EQ(game.seed, 40u + static_cast<std::uint64_t>((n - 1) / roster));
                std::vector<std::int32_t> inGame(roster, 0);
                for (std::int32_t s = 0; s < seats; ++s) {
                    const std::int32_t e = game.seats[static_cast<std::size_t>(s)];
                    ASSERT_TRUE(e >= 0 && e < roster);
                    ++played[e];
                    ++inGame[e];
                    seatsTaken[e].insert(s);
                }
                // An entrant holds two seats of one game only when there are more seats.
                EXPECT_LE(*std::max_element(inGame.begin(), inGame.end()),
                          (seats + roster - 1) / roster);
                const auto [least, most] = std::minmax_element(played.begin(), played.end());
                EXPECT_LE(*most - *least, 1) << "after game " << n;
                if (n % roster == 0) {
                    // A whole round on one seed: everyone sat in every seat.
                    for (std::int32_t e = 0; e < roster; ++e) {
                        EXPECT_EQ(seatsTaken[e].size(), static_cast<std::size_t>(seats));
                        seatsTaken[e].clear();
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace nimbus::tournament
