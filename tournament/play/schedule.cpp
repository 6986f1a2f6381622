#include "tournament/play/schedule.hpp"

#include <numeric>

namespace nimbus::tournament {

GameSpec scheduledGame(std::int32_t number, std::int32_t roster, std::int32_t seats,
                       std::uint64_t seedBase) {
    // Game t of a round seats entrants j, j+1, ..., j+seats-1 (mod roster). Taking j in steps of
    // `seats` lays the windows end to end around the circle of entrants, so any prefix of the
    // round covers an arc and no entrant gets two games ahead of another. When the step has a
    // common divisor d with the roster, the steps close a loop after roster/d games; the next
    // loop starts one further along, so the round still begins each seat at every entrant.
    const std::int64_t index = number - 1;
    const std::int64_t round = index / roster;
    const std::int64_t t = index % roster;
    const std::int64_t loop = roster / std::gcd(roster, seats);
    const std::int64_t first = ((t % loop) * seats + t / loop) % roster;

    GameSpec game;
    game.number = number;
    game.seed = seedBase + static_cast<std::uint64_t>(round);
    for (std::int32_t s = 0; s < seats; ++s) {
        game.seats.push_back(static_cast<std::int32_t>((first + s) % roster));
    }
    return game;
}

}  // namespace nimbus::tournament
