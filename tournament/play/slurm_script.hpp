#pragma once
// The batch script of a tournament on Slurm: an array job of one task per game. Task n runs the
// arena command that `plan` prints for game n, unless that game's results are already whole.
#include <filesystem>
#include <string>
#include <vector>

#include "tournament/records/config.hpp"

namespace nimbus::tournament {

struct SlurmJob {
    TournamentConfig config;
    std::filesystem::path out;  // absolute: the tournament folder, seen by every node
    std::string arena;          // absolute path of nimbus-arena
    std::string tournament;     // absolute path of nimbus-tournament (a task asks it what is played)
    std::string partition;      // empty: the cluster's default
    std::string time;           // a task's time limit; empty: the partition's default
};

// The question a task asks before it plays: `nimbus-tournament played DIR N` exits 0 when game N
// of the tournament in DIR has whole results, 1 when not (gamePlayedInFolder).
inline constexpr const char* kPlayedCommand = "played";

// Whether game `number` of the tournament recorded in `dir` has whole results: 0 yes, 1 no.
// Throws std::invalid_argument when `dir` holds no tournament or no such game.
int gamePlayedInFolder(const std::filesystem::path& dir, std::int32_t number);

// Why `job` cannot be written as a batch script (empty when it can): sbatch reads its #SBATCH
// lines word by word and expands % in file names, so the folder, the partition and the time limit
// must be free of white space, quotes, backslashes and % (and of control characters).
std::string slurmJobProblem(const SlurmJob& job);

// The text of DIR/tournament.sbatch.
std::string sbatchScript(const SlurmJob& job);

// Where task n writes what the arena does not: DIR/slurm/<n>.log.
std::filesystem::path taskLog(const std::filesystem::path& out, std::int32_t number);

// Game numbers as a Slurm array range list: {1, 2, 3, 7} is "1-3,7".
std::string arrayRanges(const std::vector<std::int32_t>& games);

// sbatch [--parsable] ARG... DIR/tournament.sbatch
std::vector<std::string> sbatchCommand(const std::filesystem::path& out,
                                       const std::vector<std::string>& sbatchArgs, bool parsable);

}  // namespace nimbus::tournament
