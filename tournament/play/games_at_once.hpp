#pragma once
// How many games a run plays at once when the user left it to the tournament: halved while
// games come out unfair to real-time bots, doubled back after a calm spell, so that a passing
// load (a build beside the tournament) slows only the games it touched.
#include <cstdint>

namespace nimbus::tournament {

class GamesAtOnce {
  public:
    // `most` at once; with `fewest` above 0 the number adapts between them, with 0 it stays.
    GamesAtOnce(std::int32_t most, std::int32_t fewest);

    std::int32_t now() const { return now_; }

    // Game `game` ended with tick lag p99 `p99Ms`; the games numbered up to `lastStarted` have
    // been started. Only a game started at the current number speaks for it: over 4 ms halves
    // it (not below `fewest`); twice as many games in a row within 2 ms as are played at once
    // double it (not above `most`); any other game breaks the row. True when it changed.
    bool gameEnded(std::int32_t game, double p99Ms, std::int32_t lastStarted);

  private:
    std::int32_t most_;
    std::int32_t fewest_;
    std::int32_t now_;
    std::int32_t setAfter_ = 0;  // the last game started before `now_` changed
    std::int32_t calmInARow_ = 0;
};

}  // namespace nimbus::tournament
