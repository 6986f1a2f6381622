#pragma once
// A tournament on a Slurm cluster: the folder and its batch script (one array task per game),
// and, when asked, its submission with sbatch, followed to the end: progress as `run` shows it,
// then the standings.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tournament/play/slurm_script.hpp"

namespace nimbus::tournament {

struct SlurmOptions {
    SlurmJob job;
    std::vector<std::string> sbatchArgs;  // passed to sbatch before the script
    bool submit = false;
};

// Records the tournament in job.out (as `run` does), writes job.out/tournament.sbatch and prints
// the sbatch command that submits it. With `submit`, runs that command (sbatch --parsable), shows
// the games done of all while the array runs, waits for it to end, writes the standings and
// returns 0 when every game was played, 1 naming the games that were not, 128 + the signal after
// SIGINT, SIGTERM, SIGHUP or SIGPIPE (the job is cancelled, the standings of what was played are
// written). Throws std::invalid_argument for a folder or option
// that cannot be used, std::runtime_error when sbatch fails.
int slurmTournament(const SlurmOptions& options);

}  // namespace nimbus::tournament
