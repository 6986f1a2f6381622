#pragma once
// Playing a tournament on this machine: every game without finished results in DIR/games/<n>/
// runs as an arena child process, J at a time; progress goes to standard output (a bar on a
// terminal, a line per game otherwise); at the end the standings are written and printed.
#include <cstdint>
#include <filesystem>
#include <string>

#include "tournament/config.hpp"

namespace nimbus::tournament {

struct RunOptions {
    TournamentConfig config;
    std::filesystem::path out;
    std::string arena;  // path of nimbus-arena
    std::int32_t parallel = 1;
};

// Exit codes of run.
constexpr int kExitAllPlayed = 0;
constexpr int kExitSomeFailed = 1;  // some games could not be played; the others count
constexpr int kExitUsage = 2;

// Plays the games still missing. Returns one of the codes above, or 130 / 143 after SIGINT /
// SIGTERM (running games are stopped, finished ones kept). Throws std::invalid_argument for a
// folder that holds another tournament.
int runTournament(const RunOptions& options);

}  // namespace nimbus::tournament
