#include "tournament/run.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "arena/game/builtin_player.hpp"
#include "tournament/arena_command.hpp"
#include "tournament/child_process.hpp"
#include "tournament/entrant.hpp"
#include "tournament/game_result.hpp"
#include "tournament/games_at_once.hpp"
#include "tournament/progress.hpp"
#include "tournament/schedule.hpp"
#include "tournament/standings.hpp"
#include "tournament/standings_files.hpp"
#include "tournament/tournament_folder.hpp"

namespace nimbus::tournament {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
// How long stopped games may take to write their results before they are killed.
constexpr auto kStopGrace = std::chrono::seconds(15);
// Games in a row that could not be started (their folder cannot be made or written, no process
// can be made) before the run stops trying: then nothing would start.
constexpr std::int32_t kStartFailuresToStop = 10;

// Clears what an earlier attempt left and records the game for the results reader.
void prepareGame(const TournamentConfig& config, const GameSpec& game, const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* stale : {"results.json", "results.unfinished.json", "replay.jsonl.gz"}) {
        std::error_code ec;
        fs::remove(folder / stale, ec);
    }
    writeGameFile(folder, config, game);
}

std::string exitText(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// A game this run started, until it is folded into the standings.
struct Slot {
    enum class State { Running, Finished, Dropped } state = State::Running;
    GameSpec game;
    GameOutcome outcome;  // when Finished
};

}  // namespace

void writeClosingReport(const fs::path& out, const Standings& standings, std::int32_t games,
                        std::int32_t playedNow, std::int32_t failed, double elapsedSeconds) {
    writeStandingsFiles(out, standings);
    const std::string failures = failed > 0 ? ", " + std::to_string(failed) + " failed" : "";
    std::printf("%d of %d games played (%d now, in %s)%s\n\n%s\n", standings.games(), games,
                playedNow, clock(elapsedSeconds).c_str(), failures.c_str(),
                standingsMarkdown(standings.rows()).c_str());
    for (const std::string& line : closingReport(standings)) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("standings: %s\n", printable((out / "standings.md").string()).c_str());
    std::fflush(stdout);
}

bool finishedAs(const LoadedGame& loaded, const GameSpec& game) {
    return loaded.state == GameState::Finished && loaded.outcome.seed == game.seed &&
           loaded.outcome.seats.size() == game.seats.size();
}

std::int32_t defaultParallel(const std::vector<std::string>& roster, unsigned cores) {
    const bool builtinOnly = std::all_of(roster.begin(), roster.end(), [](const std::string& bot) {
        return arena::looksBuiltin(bot);
    });
    const auto perCore = builtinOnly ? 1u : static_cast<unsigned>(kRealTimeGamesPerCore);
    return static_cast<std::int32_t>(std::min(1024u, std::max(1u, cores) * perCore));
}

int runTournament(const RunOptions& options) {
    const TournamentConfig& config = options.config;
    const FolderLock lock(options.out);
    const std::vector<std::int32_t> onDisk = prepareFolder(options.out, config);
    const auto roster = static_cast<std::int32_t>(config.roster.size());
    const auto spec = [&](std::int32_t n) {
        return scheduledGame(n, roster, config.players, config.seedBase);
    };

    Standings standings;
    standings.know(config.roster);
    const std::map<std::string, std::string> labels = entrantLabels(config.roster);
    const auto toPlay = static_cast<std::int32_t>(config.games - onDisk.size());
    ProgressReporter report;
    report.line("tournament " + printable(options.out.string()) + ": " +
                std::to_string(config.games) + " games of " + std::to_string(config.players) +
                " seats, " + std::to_string(onDisk.size()) + " already played, " +
                std::to_string(toPlay) + " to play, " + std::to_string(options.parallel) +
                " at a time");

    // SIGINT, SIGTERM, SIGHUP and SIGPIPE (standard output gone) stop the run in order; a second
    // one kills the running games at once. SIGCHLD wakes the loop when a game ends. They stay
    // blocked to the end: the standings are written whatever happens to standard output.
    sigset_t watched;
    ::sigemptyset(&watched);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD}) {
        ::sigaddset(&watched, s);
    }
    ::sigprocmask(SIG_BLOCK, &watched, nullptr);

    const Clock::time_point start = Clock::now();
    std::map<std::int32_t, Slot> started;  // by game number, until folded
    std::map<pid_t, std::int32_t> running;
    std::int32_t next = 1;       // the next game to look at for starting
    std::size_t nextOnDisk = 0;  // onDisk[nextOnDisk] is the first finished game not passed
    std::int32_t folded = 1;     // the next game to fold into the standings
    std::size_t foldOnDisk = 0;  // likewise for folding
    std::int32_t failed = 0;
    std::int32_t playedNow = 0;
    GamesAtOnce limit(options.parallel, options.lowest);
    int stopSignal = 0;
    std::int32_t startFailures = 0;  // games in a row that could not be started
    bool cannotStart = false;        // so many that no more are tried
    bool killed = false;
    Clock::time_point stopAt;
    std::string leader;

    const auto progress = [&] {
        Progress p;
        p.done = static_cast<std::int32_t>(onDisk.size()) + playedNow;
        p.total = config.games;
        p.running = static_cast<std::int32_t>(running.size());
        p.failed = failed;
        p.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (playedNow > 0) {
            const auto left = static_cast<double>(toPlay) - playedNow - failed;
            p.etaSeconds = p.elapsedSeconds / playedNow * left;
        }
        p.leader = leader;
        return p;
    };

    // Folds games into the standings in game-number order, as far as they are settled: finished
    // on disk before this run, finished or dropped in it. `all`: the run is over, so games never
    // started are passed over too.
    const auto fold = [&](bool all) {
        while (folded <= config.games) {
            const std::int32_t n = folded;
            if (foldOnDisk < onDisk.size() && onDisk[foldOnDisk] == n) {
                ++foldOnDisk;
                const LoadedGame loaded = loadGame(gameFolder(options.out, n) / "results.json",
                                                   expectedGame(config, spec(n)));
                if (loaded.state == GameState::Finished) {
                    standings.add(loaded.outcome, "game " + std::to_string(n));
                }
            } else if (const auto it = started.find(n); it != started.end()) {
                if (it->second.state == Slot::State::Running) {
                    break;
                }
                if (it->second.state == Slot::State::Finished) {
                    standings.add(it->second.outcome, "game " + std::to_string(n));
                }
                started.erase(it);
            } else if (all) {
                // Never started: on to the next game there is something of.
                folded = config.games + 1;
                if (foldOnDisk < onDisk.size()) {
                    folded = onDisk[foldOnDisk];
                }
                if (!started.empty()) {
                    folded = std::min(folded, started.begin()->first);
                }
                continue;
            } else {
                break;  // not started yet
            }
            ++folded;
        }
        leader = standings.leader();
    };

    const auto finish = [&](pid_t pid, int status) {
        const std::int32_t n = running.at(pid);
        running.erase(pid);
        Slot& slot = started.at(n);
        const fs::path folder = gameFolder(options.out, n);
        const fs::path results = folder / "results.json";
        LoadedGame loaded = loadGame(results, expectedGame(config, slot.game));
        const bool cleanExit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        const std::string number = "game " + std::to_string(n);
        slot.state = Slot::State::Dropped;
        if (loaded.state == GameState::NotPlayed) {
            standings.noteUnplayed(loaded.outcome);
        }
        if (cleanExit && loaded.state == GameState::Finished) {
            ++playedNow;
            slot.state = Slot::State::Finished;
            slot.outcome = std::move(loaded.outcome);
            const GameOutcome& o = slot.outcome;
            if (o.pacing && o.pacing->p99Ms > kFairLagMs) {
                report.line("warning: " + number + ": " + pacingText(*o.pacing) +
                            ": p99 over 4 ms, not fair to real-time bots");
            }
            if (o.pacing && limit.gameEnded(n, o.pacing->p99Ms, next - 1)) {
                report.line("playing " + std::to_string(limit.now()) +
                            " games at once from now on");
            }
            const std::string done = number + " (seed " + std::to_string(slot.game.seed) +
                                     ") won by " + labels.at(o.seats.front().entrant);
            fold(false);  // may fold the slot away
            report.gameDone(done, progress());
            return;
        }
        std::error_code ec;
        fs::rename(results, folder / "results.unfinished.json", ec);
        if (stopSignal == 0) {
            ++failed;
            report.line(number + " failed (" + exitText(status) +
                        (loaded.problem.empty() ? "" : ", " + loaded.problem) + "), see " +
                        printable((folder / "arena.log").string()));
        }
        // Stopped by us, or failed: replayed by the next run.
        fold(false);
    };

    const auto stop = [&](int sig) {
        if (stopSignal == 0) {
            stopSignal = sig;
            const std::string text = "interrupted: stopping " + std::to_string(running.size()) +
                                     " running games (again to kill them at once); rerun with "
                                     "the same --out to play the rest";
            report.clearBar();
            std::fprintf(stderr, "nimbus-tournament: %s\n", text.c_str());
            for (const auto& [pid, n] : running) {
                ::kill(pid, SIGTERM);
            }
            stopAt = Clock::now();
        } else if (!killed) {
            killed = true;
            std::fprintf(stderr, "nimbus-tournament: interrupted again: killing the games\n");
        }
    };

    while (true) {
        while (stopSignal == 0 && !cannotStart && next <= config.games &&
               static_cast<std::int32_t>(running.size()) < limit.now()) {
            const std::int32_t n = next++;
            if (nextOnDisk < onDisk.size() && onDisk[nextOnDisk] == n) {
                ++nextOnDisk;
                continue;
            }
            const GameSpec game = spec(n);
            const fs::path folder = gameFolder(options.out, n);
            try {
                prepareGame(config, game, folder);
                const pid_t pid = startChild(arenaArguments(options.arena, config, game, folder),
                                             folder / "arena.log");
                running.emplace(pid, n);
                started.emplace(n, Slot{Slot::State::Running, game, {}});
                startFailures = 0;
            } catch (const std::exception& e) {
                // This game fails (the next run tries it again); the running ones go on.
                ++failed;
                started.emplace(n, Slot{Slot::State::Dropped, game, {}});
                report.line("game " + std::to_string(n) +
                            " failed (cannot start it: " + printable(e.what()) + ")");
                fold(false);
                if (++startFailures == kStartFailuresToStop) {
                    cannotStart = true;
                    report.line("stopping: " + std::to_string(startFailures) +
                                " games in a row could not be started");
                }
            }
        }
        if (running.empty() && (stopSignal != 0 || cannotStart || next > config.games)) {
            break;
        }
        report.bar(progress());

        timespec wait{0, 250'000'000};
        const int sig = ::sigtimedwait(&watched, nullptr, &wait);
        if (sig > 0 && sig != SIGCHLD) {
            stop(sig);
        }
        if (killed || (stopSignal != 0 && Clock::now() - stopAt > kStopGrace)) {
            for (const auto& [pid, n] : running) {
                ::kill(-pid, SIGKILL);
            }
        }
        for (auto it = running.begin(); it != running.end();) {
            int status = 0;
            const pid_t pid = it->first;
            ++it;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                finish(pid, status);
            }
        }
    }
    report.clearBar();
    fold(true);

    writeClosingReport(options.out, standings, config.games, playedNow, failed,
                       std::chrono::duration<double>(Clock::now() - start).count());
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return failed > 0 || !standings.neverConnected().empty() ? kExitSomeFailed : kExitAllPlayed;
}

}  // namespace nimbus::tournament
