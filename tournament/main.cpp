// nimbus-tournament: plays many arena games between bots and ranks them.
//   run        plays the games here, several at once, and writes the standings
//   plan       prints one arena command line per game, for GNU parallel or a Slurm job array
//   slurm      writes a Slurm array job of the tournament; --submit runs it to the standings
//   standings  merges the results found under any folders into standings
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <CLI/CLI.hpp>

#include "arena/game/builtin_player.hpp"
#include "tournament/play/arena_command.hpp"
#include "tournament/play/driver.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/play/run.hpp"
#include "tournament/play/slurm_script.hpp"
#include "tournament/play/slurm.hpp"
#include "tournament/standings/standings_files.hpp"
#include "tournament/records/tournament_folder.hpp"
#include "util/sandbox_settings.hpp"

namespace {

namespace fs = std::filesystem;
namespace nt = nimbus::tournament;

int fail(const std::string& message, int code = nt::kExitUsage) {
    std::fprintf(stderr, "nimbus-tournament: %s\n", message.c_str());
    return code;
}

// This program, empty when unknown.
fs::path ourselves() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec);
}

// The arena beside this program, so that a build's tournament plays that build's arena.
std::string arenaBesideUs() {
    const fs::path self = ourselves();
    return self.empty() ? std::string("nimbus-arena") : (self.parent_path() / "nimbus-arena").string();
}

struct GameOptions {
    nt::TournamentConfig config;
    std::string out = "games/tournament";
    std::string arena;
    std::int32_t ticks = 0;
    std::int32_t tickMs = 0;
    std::int32_t rainclouds = 0;
    double lobbySeconds = 0.0;
    nimbus::util::SandboxOptions sandbox;
};

// The options run and plan share: the games, the roster and the arena options passed through.
void addGameOptions(CLI::App& app, GameOptions& o) {
    app.add_option("--games", o.config.games, "number of games")
        ->required()
        ->check(CLI::Range(1, 10000000));
    app.add_option("--players", o.config.players, "seats in each game")
        ->required()
        ->check(CLI::Range(1, 64));
    app.add_option("--out", o.out, "tournament folder: games/<n>/ and the standings")
        ->capture_default_str();
    app.add_option("--arena", o.arena, "the nimbus-arena to run (default: the one beside us)");
    app.add_option("--seed", o.config.seedBase,
                   "seed of the first round; round r plays seed+r")
        ->capture_default_str();
    app.add_option("--ticks", o.ticks, "arena: length of each game in ticks")
        ->check(CLI::Range(1, 100000000));
    app.add_option("--tick-ms", o.tickMs, "arena: milliseconds per tick (real-time bots need 16)")
        ->check(CLI::Range(1, 60000));
    app.add_option("--rainclouds", o.rainclouds, "arena: number of rainclouds")
        ->check(CLI::Range(0, 10000));
    app.add_option("--lobby-seconds", o.lobbySeconds, "arena: how long the lobby waits")
        ->check(CLI::Range(0.0, 3600.0));
    nimbus::util::addSandboxOptions(app, o.sandbox);
    app.add_option("BOT", o.config.roster,
                   "the entrants: bot command lines or builtin:idle / builtin:greedy")
        ->required();
}

// Checks what CLI11 cannot and fills in the passed-through options that were given.
std::string finishGameOptions(CLI::App& app, GameOptions& o) {
    for (const std::string& bot : o.config.roster) {
        if (const std::string why = nt::entrantProblem(bot); !why.empty()) {
            return why;
        }
        if (nimbus::arena::looksBuiltin(bot) && !nimbus::arena::parseBuiltin(bot)) {
            return "unknown builtin player \"" + bot + "\" (known: builtin:idle, builtin:greedy)";
        }
    }
    if (app.count("--ticks") > 0) {
        o.config.arena.ticks = o.ticks;
    }
    if (app.count("--tick-ms") > 0) {
        o.config.arena.tickMs = o.tickMs;
    }
    if (app.count("--rainclouds") > 0) {
        o.config.arena.rainclouds = o.rainclouds;
    }
    if (app.count("--lobby-seconds") > 0) {
        o.config.arena.lobbySeconds = o.lobbySeconds;
    }
    try {
        o.config.sandbox = nimbus::util::chosenSandbox(o.sandbox);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    if (o.arena.empty()) {
        o.arena = arenaBesideUs();
    }
    o.arena = fs::absolute(o.arena).string();
    // Both go into every game's shell line: one line a game, whatever reads them.
    for (const auto& [option, path] : {std::pair{"--out", o.out}, std::pair{"--arena", o.arena}}) {
        if (nt::printable(path) != path) {
            return std::string(option) + " " + nt::printable(path) +
                   " holds a control character or is not UTF-8 (a game's command is one line)";
        }
    }
    if (::access(o.arena.c_str(), X_OK) != 0) {
        return "cannot run the arena " + nt::printable(o.arena) + " (give --arena PATH)";
    }
    o.config.arenaPath = o.arena;
    o.config.arenaDigest = nt::fileDigest(o.arena);
    return "";
}

int plan(GameOptions& o) {
    {
        const nt::FolderLock lock(o.out);
        nt::prepareFolder(o.out, o.config);
    }
    for (std::int32_t n = 1; n <= o.config.games; ++n) {
        std::printf("%s\n", nt::planLine(o.arena, o.config, o.out, n).c_str());
    }
    return 0;
}

int standings(const std::vector<std::string>& folders, std::string out) {
    std::vector<fs::path> paths(folders.begin(), folders.end());
    for (const fs::path& folder : paths) {
        if (!fs::is_directory(folder)) {
            return fail(nt::printable(folder.string()) + " is not a folder");
        }
    }
    nt::Standings table;
    nt::Expectations expectations;
    int skipped = 0;
    for (const fs::path& results : nt::findResults(paths)) {
        std::string foreign;
        const nt::ExpectedGame expected = expectations.of(results, foreign);
        const nt::LoadedGame game = nt::loadGame(results, expected);
        if (game.state == nt::GameState::Finished && foreign.empty()) {
            // Named as run names it, when that cannot be ambiguous.
            const fs::path folder = results.parent_path();
            const bool numbered = paths.size() == 1 && folder.parent_path().filename() == "games" &&
                                  folder.filename().string().find_first_not_of("0123456789") ==
                                      std::string::npos;
            table.add(game.outcome,
                      numbered ? "game " + folder.filename().string() : results.string());
            continue;
        }
        if (game.state == nt::GameState::NotPlayed && foreign.empty()) {
            table.noteUnplayed(game.outcome);
        }
        ++skipped;
        std::fprintf(stderr, "nimbus-tournament: skipped %s (%s)\n",
                     nt::printable(results.string()).c_str(),
                     nt::printable(foreign.empty() ? game.problem : foreign).c_str());
    }
    if (out.empty()) {
        out = folders.front();
    }
    const std::string skips = skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "";
    nt::writeStandingsReport(out, table, std::to_string(table.games()) + " games" + skips);
    return table.games() > 0 && table.neverConnected().empty() ? 0 : 1;
}

// Every subcommand's options, filled by CLI11.
struct Commands {
    CLI::App* run = nullptr;
    GameOptions runOptions;
    std::int32_t parallel = 0;  // 0: chosen for the entrants (defaultParallel)
    CLI::App* plan = nullptr;
    GameOptions planOptions;
    CLI::App* slurm = nullptr;
    GameOptions slurmOptions;
    nt::SlurmOptions slurmJob;
    CLI::App* played = nullptr;
    std::string playedFolder;
    std::int32_t playedGame = 0;
    std::vector<std::string> folders;
    std::string standingsOut;
};

void addRun(CLI::App& app, Commands& c) {
    c.run = app.add_subcommand("run", "play the tournament here; rerun to resume");
    addGameOptions(*c.run, c.runOptions);
    c.run->add_option("--parallel,-j", c.parallel,
                      "games at once (default: one per core when every entrant is a builtin, "
                      "else " + std::to_string(nt::kRealTimeGamesPerCore) + " per core)")
        ->check(CLI::Range(1, 1024));
    c.plan = app.add_subcommand(
        "plan", "print one arena command line per game (for GNU parallel or a Slurm array)");
    addGameOptions(*c.plan, c.planOptions);
}

void addSlurm(CLI::App& app, Commands& c) {
    c.slurm = app.add_subcommand(
        "slurm", "write OUT/tournament.sbatch, a Slurm array job of one task per game (OUT must be "
                 "on a file system that every node sees), and print the sbatch command; --submit "
                 "submits it, follows it and writes the standings");
    addGameOptions(*c.slurm, c.slurmOptions);
    nt::SlurmOptions& s = c.slurmJob;
    c.slurm->add_flag("--submit", s.submit,
                      "submit the job, wait for it and write the standings; exit 1 naming the "
                      "games that were not played");
    c.slurm->add_option("--partition", s.job.partition, "Slurm partition of the games");
    c.slurm->add_option("--time", s.job.time, "Slurm time limit of one game (task)");
    c.slurm
        ->add_option("--sbatch-arg", s.sbatchArgs,
                     "one more argument for sbatch, as --sbatch-arg=ARG (repeatable), e.g. "
                     "--sbatch-arg=--array=1-400%32 for 32 games at once")
        ->allow_extra_args(false);
    c.played = app.add_subcommand(
        nt::kPlayedCommand, "exit 0 when game N of the tournament in FOLDER has whole results, "
                            "else 1");
    c.played->group("");  // asked by the Slurm tasks
    c.played->add_option("FOLDER", c.playedFolder)->required();
    c.played->add_option("N", c.playedGame)->required();
}

void addStandings(CLI::App& app, Commands& c) {
    CLI::App* standings = app.add_subcommand(
        "standings", "standings of all the results.json files found under the folders");
    standings->add_option("FOLDER", c.folders, "folders to search")->required();
    standings->add_option("--out", c.standingsOut,
                          "where to write standings.* (default: the first FOLDER; made when "
                          "missing)");
}

int runHere(Commands& c) {
    if (const std::string error = finishGameOptions(*c.run, c.runOptions); !error.empty()) {
        return fail(error);
    }
    if (c.runOptions.config.sandbox) {
        // Here, before any game (plan and slurm play theirs elsewhere: their arenas check).
        if (const std::string why = nimbus::util::sandboxProblem(); !why.empty()) {
            return fail(why);
        }
    }
    nt::RunOptions options;
    options.config = c.runOptions.config;
    options.out = c.runOptions.out;
    options.arena = c.runOptions.arena;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    options.parallel =
        c.parallel > 0 ? c.parallel : nt::defaultParallel(c.runOptions.config.roster, cores);
    options.lowest = c.parallel > 0 ? 0 : static_cast<std::int32_t>(std::min(cores, 1024u));
    return nt::runTournament(options);
}

int runOnSlurm(Commands& c) {
    if (const std::string error = finishGameOptions(*c.slurm, c.slurmOptions); !error.empty()) {
        return fail(error);
    }
    c.slurmJob.job.config = c.slurmOptions.config;
    c.slurmJob.job.out = fs::absolute(c.slurmOptions.out);
    c.slurmJob.job.arena = c.slurmOptions.arena;
    c.slurmJob.job.tournament = ourselves().string();
    return nt::slurmTournament(c.slurmJob);
}

int dispatch(Commands& c) {
    if (*c.run) {
        return runHere(c);
    }
    if (*c.plan) {
        const std::string error = finishGameOptions(*c.plan, c.planOptions);
        return error.empty() ? plan(c.planOptions) : fail(error);
    }
    if (*c.slurm) {
        return runOnSlurm(c);
    }
    if (*c.played) {
        return nt::gamePlayedInFolder(c.playedFolder, c.playedGame);
    }
    return standings(c.folders, c.standingsOut);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"nimbus-tournament: plays many nimbus-arena games between bots and ranks them "
                 "(Weng-Lin ratings). Exit codes: 0 done, 1 some games could not be played (or "
                 "no results found, or an entrant never connected), 2 usage error, "
                 "129/130/141/143 stopped by SIGHUP/SIGINT/SIGPIPE/SIGTERM."};
    app.require_subcommand(1);
    Commands commands;
    addRun(app, commands);
    addSlurm(app, commands);
    addStandings(app, commands);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return fail(e.what());
    }
    try {
        return dispatch(commands);
    } catch (const std::invalid_argument& e) {
        return fail(e.what());
    } catch (const std::exception& e) {
        return fail(e.what(), 1);
    }
}
