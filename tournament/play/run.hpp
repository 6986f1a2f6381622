#pragma once
// Playing a tournament on this machine: every game without finished results in DIR/games/<n>/
// runs as an arena child process, J at a time, under the tournament driver (progress, signals,
// standings in game order; driver.hpp).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tournament/records/config.hpp"
#include "tournament/play/driver.hpp"

namespace nimbus::tournament {

struct RunOptions {
    TournamentConfig config;
    std::filesystem::path out;
    std::string arena;  // path of nimbus-arena
    std::int32_t parallel = 1;
    // When above 0 the games at once adapt between this and `parallel` to the games' tick lag
    // (GamesAtOnce). For a default, not for a --parallel given.
    std::int32_t lowest = 0;
};

// Games at once when --parallel is not given: builtin-only games run unpaced and take a core
// each; games with a bot run in real time and mostly wait, so that several share a core while
// the arena still keeps its ticks (docs/tournaments.md says how this was measured); they are
// halved down to one per core while games come out unfair (RunOptions::lowest).
constexpr std::int32_t kRealTimeGamesPerCore = 4;
std::int32_t defaultParallel(const std::vector<std::string>& roster, unsigned cores);

// Plays the games still missing, with the folder locked. Returns the driver's exit code (1 also
// when an entrant never connected in any of its games; 128 + the signal after a stop: running
// games are stopped, finished ones kept, the standings written). Throws std::invalid_argument
// for a folder that holds another tournament or that another run is using.
int runTournament(const RunOptions& options);

}  // namespace nimbus::tournament
