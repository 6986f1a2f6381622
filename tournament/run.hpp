#pragma once
// Playing a tournament on this machine: every game without finished results in DIR/games/<n>/
// runs as an arena child process, J at a time; progress goes to standard output (a bar on a
// terminal, a line per game otherwise); at the end the standings are written and printed.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tournament/config.hpp"
#include "tournament/game_result.hpp"
#include "tournament/schedule.hpp"
#include "tournament/standings.hpp"

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
// the arena still keeps its ticks (the README says how this was measured); they are halved down
// to one per core while games come out unfair (RunOptions::lowest).
constexpr std::int32_t kRealTimeGamesPerCore = 4;
std::int32_t defaultParallel(const std::vector<std::string>& roster, unsigned cores);

// Exit codes of run.
constexpr int kExitAllPlayed = 0;
constexpr int kExitSomeFailed = 1;  // some games could not be played; the others count
constexpr int kExitUsage = 2;

// Plays the games still missing, with the folder locked. Returns one of the codes above (1 also
// when an entrant never connected in any of its games), or 128 + the signal after SIGHUP,
// SIGINT, SIGPIPE or SIGTERM (running games are stopped, finished ones kept, the standings
// written). Throws std::invalid_argument for a folder that holds another tournament or that
// another run is using.
int runTournament(const RunOptions& options);

// The pieces of a run that other ways of playing a tournament (Slurm) share.
// Whether `loaded` holds the finished results of `game`.
bool finishedAs(const LoadedGame& loaded, const GameSpec& game);
// Writes the standings files into `out` and prints the end of a tournament: "N of M games played
// (K now, in T)[, F failed]", the standings table, the closing report (closingReport) and where
// they are.
void writeClosingReport(const std::filesystem::path& out, const Standings& standings,
                        std::int32_t games, std::int32_t playedNow, std::int32_t failed,
                        double elapsedSeconds);

}  // namespace nimbus::tournament
