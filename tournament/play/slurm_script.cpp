#include "tournament/play/slurm_script.hpp"

#include <stdexcept>

#include "tournament/play/arena_command.hpp"
#include "tournament/play/driver.hpp"
#include "tournament/play/schedule.hpp"
#include "tournament/records/tournament_folder.hpp"

namespace nimbus::tournament {

namespace {

bool fitsDirective(const std::string& text) {
    for (const unsigned char c : text) {
        if (c <= ' ' || c == 0x7f || c == '"' || c == '\'' || c == '\\' || c == '%') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string slurmJobProblem(const SlurmJob& job) {
    if (!fitsDirective(job.out.string())) {
        return "the folder " + shellQuote(job.out.string()) +
               " cannot be named in a Slurm script: give an --out without spaces, quotes, "
               "backslashes or %";
    }
    if (!fitsDirective(job.partition)) {
        return "--partition " + shellQuote(job.partition) + " is not a partition name";
    }
    if (!fitsDirective(job.time)) {
        return "--time " + shellQuote(job.time) + " is not a Slurm time limit";
    }
    return "";
}

std::filesystem::path taskLog(const std::filesystem::path& out, std::int32_t number) {
    return out / "slurm" / (std::to_string(number) + ".log");
}

std::string sbatchScript(const SlurmJob& job) {
    const std::string games = std::to_string(job.config.games);
    const std::string dir = job.out.string();
    std::string s = "#!/bin/sh\n";
    s += "#SBATCH --job-name=nimbus-tournament\n";
    s += "#SBATCH --array=1-" + games + "\n";
    s += "#SBATCH --output=" + (job.out / "slurm" / "%a.log").string() + "\n";
    if (!job.partition.empty()) {
        s += "#SBATCH --partition=" + job.partition + "\n";
    }
    if (!job.time.empty()) {
        s += "#SBATCH --time=" + job.time + "\n";
    }
    s += "# A nimbus tournament of " + games + " games, written by `nimbus-tournament slurm`, in\n"
         "#   " + dir + "\n"
         "# which every node must see. Array task N plays game N into games/N/ there with the arena\n"
         "# command that `nimbus-tournament plan` prints for it, unless that game's results are\n"
         "# already whole: a resubmission plays only the games still missing.\n";
    s += "n=${SLURM_ARRAY_TASK_ID:?submit this script with sbatch}\n";
    s += "if " + shellQuote(job.tournament) + " " + kPlayedCommand + " " + shellQuote(dir) +
         " \"$n\"; then\n";
    s += "    echo \"game $n: already played\"\n    exit 0\nfi\n";
    s += "case $n in\n";
    for (std::int32_t n = 1; n <= job.config.games; ++n) {
        s += std::to_string(n) + ") " + planLine(job.arena, job.config, job.out, n) + " ;;\n";
    }
    s += "*) echo \"no game $n in this tournament (1-" + games + ")\" >&2; exit 2 ;;\n";
    s += "esac\n";
    return s;
}

std::string arrayRanges(const std::vector<std::int32_t>& games) {
    std::string text;
    for (std::size_t i = 0; i < games.size();) {
        std::size_t j = i;
        while (j + 1 < games.size() && games[j + 1] == games[j] + 1) {
            ++j;
        }
        text += text.empty() ? "" : ",";
        text += std::to_string(games[i]);
        if (j > i) {
            text += '-';
            text += std::to_string(games[j]);
        }
        i = j + 1;
    }
    return text;
}

std::vector<std::string> sbatchCommand(const std::filesystem::path& out,
                                       const std::vector<std::string>& sbatchArgs,
                                       bool parsable) {
    std::vector<std::string> argv{"sbatch"};
    if (parsable) {
        argv.emplace_back("--parsable");
    }
    argv.insert(argv.end(), sbatchArgs.begin(), sbatchArgs.end());
    argv.push_back((out / "tournament.sbatch").string());
    return argv;
}

int gamePlayedInFolder(const std::filesystem::path& dir, std::int32_t number) {
    std::optional<TournamentConfig> config;
    try {
        config = readTournament(dir);
    } catch (const std::exception& e) {
        throw std::invalid_argument(dir.string() + " holds no tournament: " + e.what());
    }
    if (!config) {
        throw std::invalid_argument(dir.string() + " holds no tournament: no tournament.json");
    }
    if (number < 1 || number > config->games) {
        throw std::invalid_argument("no game " + std::to_string(number) + " in " + dir.string());
    }
    const GameSpec game = scheduledGame(number, static_cast<std::int32_t>(config->roster.size()),
                                        config->players, config->seedBase);
    const LoadedGame loaded =
        loadGame(gameFolder(dir, number) / "results.json", expectedGame(*config, game));
    return finishedAs(loaded, game) ? 0 : 1;
}

}  // namespace nimbus::tournament
