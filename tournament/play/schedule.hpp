#pragma once
// Who sits where in each game of a tournament, and with which seed. Games are grouped in rounds
// of one game per entrant; a round plays one seed, and over a round every entrant takes every
// seat once. Within a round the games follow each other so that, after any number of games,
// every entrant has played within one game of every other.
#include <cstdint>
#include <vector>

namespace nimbus::tournament {

struct GameSpec {
    std::int32_t number = 0;          // 1-based game number
    std::uint64_t seed = 0;           // the arena's --seed for this game
    std::vector<std::int32_t> seats;  // roster index of each seat, seat 0 first
};

// Game `number` (1-based) of a tournament of `roster` entrants with `seats` seats a game; round r
// (0-based) plays seed seedBase + r. With more seats than entrants an entrant holds several seats
// of one game. Requires number, roster and seats >= 1.
GameSpec scheduledGame(std::int32_t number, std::int32_t roster, std::int32_t seats,
                       std::uint64_t seedBase);

}  // namespace nimbus::tournament
