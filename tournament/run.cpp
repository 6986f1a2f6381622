#include "tournament/run.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>

#include "tournament/arena_command.hpp"
#include "tournament/child_process.hpp"
#include "tournament/game_result.hpp"
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

struct Running {
    GameSpec game;
    fs::path folder;
};

// Clears what an earlier attempt left and records the game's seats for the results reader.
void prepareGame(const TournamentConfig& config, const GameSpec& game, const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* stale : {"results.json", "results.unfinished.json", "replay.json"}) {
        std::error_code ec;
        fs::remove(folder / stale, ec);
    }
    nlohmann::json seats = nlohmann::json::array();
    for (std::int32_t seat : game.seats) {
        seats.push_back(config.roster[static_cast<std::size_t>(seat)]);
    }
    writeWhole(folder / "game.json",
               nlohmann::json{{"game", game.number}, {"seed", game.seed}, {"seats", seats}}.dump(2) +
                   "\n");
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

}  // namespace

Standings standingsOf(const std::map<std::int32_t, GameOutcome>& finished) {
    Standings standings;
    for (const auto& [number, outcome] : finished) {
        standings.add(outcome);
    }
    return standings;
}

std::string leaderOf(const std::map<std::int32_t, GameOutcome>& finished) {
    const std::vector<StandingRow> rows = standingsOf(finished).rows();
    return rows.empty() ? std::string() : rows.front().label;
}

void writeClosingReport(const fs::path& out, const std::map<std::int32_t, GameOutcome>& finished,
                        std::int32_t games, std::int32_t playedNow, std::int32_t failed,
                        double elapsedSeconds) {
    const Standings standings = standingsOf(finished);
    writeStandingsFiles(out, standings);
    const std::string failures = failed > 0 ? ", " + std::to_string(failed) + " failed" : "";
    std::printf("%d of %d games played (%d now, in %s)%s\n\n%s\nstandings: %s\n",
                static_cast<int>(finished.size()), games, playedNow,
                clock(elapsedSeconds).c_str(), failures.c_str(),
                standingsMarkdown(standings.rows()).c_str(), (out / "standings.md").string().c_str());
    std::fflush(stdout);
}

bool finishedAs(const LoadedGame& loaded, const GameSpec& game) {
    return loaded.state == GameState::Finished && loaded.outcome.seed == game.seed &&
           loaded.outcome.seats.size() == game.seats.size();
}

int runTournament(const RunOptions& options) {
    const TournamentConfig& config = options.config;
    prepareFolder(options.out, config);
    const auto roster = static_cast<std::int32_t>(config.roster.size());

    std::map<std::int32_t, GameOutcome> finished;
    std::deque<GameSpec> queue;
    for (std::int32_t n = 1; n <= config.games; ++n) {
        const GameSpec game = scheduledGame(n, roster, config.players, config.seedBase);
        LoadedGame loaded = loadGame(gameFolder(options.out, n) / "results.json");
        if (finishedAs(loaded, game)) {
            finished.emplace(n, std::move(loaded.outcome));
        } else {
            queue.push_back(game);
        }
    }

    ProgressReporter report;
    report.line("tournament " + options.out.string() + ": " + std::to_string(config.games) +
                " games of " + std::to_string(config.players) + " seats, " +
                std::to_string(finished.size()) + " already played, " +
                std::to_string(queue.size()) + " to play, " + std::to_string(options.parallel) +
                " at a time");

    // SIGINT and SIGTERM stop the run in order; SIGCHLD wakes the loop when a game ends.
    sigset_t watched;
    sigset_t previous;
    ::sigemptyset(&watched);
    for (int s : {SIGINT, SIGTERM, SIGCHLD}) {
        ::sigaddset(&watched, s);
    }
    ::sigprocmask(SIG_BLOCK, &watched, &previous);

    const Clock::time_point start = Clock::now();
    const std::size_t toPlay = queue.size();
    std::map<pid_t, Running> running;
    std::int32_t failed = 0;
    std::int32_t playedNow = 0;
    int stopSignal = 0;
    Clock::time_point stopAt;
    std::string leader = leaderOf(finished);

    const auto progress = [&] {
        Progress p;
        p.done = static_cast<std::int32_t>(finished.size());
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

    const auto finish = [&](pid_t pid, int status) {
        const Running game = running.at(pid);
        running.erase(pid);
        const fs::path results = game.folder / "results.json";
        LoadedGame loaded = loadGame(results);
        const bool cleanExit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // A game we stopped counts only if its results say it ran to its end (an arena that
        // does not write end_reason cannot say so).
        const bool ranToEnd = stopSignal == 0 || !loaded.outcome.endReason.empty();
        const std::string number = "game " + std::to_string(game.game.number);
        if (cleanExit && ranToEnd && finishedAs(loaded, game.game)) {
            ++playedNow;
            const std::string winner = loaded.outcome.seats.front().entrant;
            finished.emplace(game.game.number, std::move(loaded.outcome));
            leader = leaderOf(finished);
            report.gameDone(number + " (seed " + std::to_string(game.game.seed) + ") won by " +
                                winner,
                            progress());
            return;
        }
        if (stopSignal != 0) {
            // Stopped by us: an interrupted game is replayed by the next run.
            std::error_code ec;
            fs::rename(results, game.folder / "results.unfinished.json", ec);
            return;
        }
        ++failed;
        std::error_code ec;
        fs::rename(results, game.folder / "results.unfinished.json", ec);
        report.line(number + " failed (" + exitText(status) +
                    (loaded.problem.empty() ? "" : ", " + loaded.problem) + "), see " +
                    (game.folder / "arena.log").string());
    };

    while ((!queue.empty() && stopSignal == 0) || !running.empty()) {
        while (stopSignal == 0 && !queue.empty() &&
               static_cast<std::int32_t>(running.size()) < options.parallel) {
            const GameSpec game = queue.front();
            queue.pop_front();
            const fs::path folder = gameFolder(options.out, game.number);
            prepareGame(config, game, folder);
            const pid_t pid =
                startChild(arenaArguments(options.arena, config, game, folder), folder / "arena.log");
            running.emplace(pid, Running{game, folder});
        }
        report.bar(progress());

        timespec wait{0, 250'000'000};
        const int sig = ::sigtimedwait(&watched, nullptr, &wait);
        if ((sig == SIGINT || sig == SIGTERM) && stopSignal == 0) {
            stopSignal = sig;
            report.line("interrupted: stopping " + std::to_string(running.size()) +
                        " running games; rerun with the same --out to play the rest");
            for (const auto& [pid, game] : running) {
                ::kill(pid, SIGTERM);
            }
            stopAt = Clock::now();
        }
        if (stopSignal != 0 && Clock::now() - stopAt > kStopGrace) {
            for (const auto& [pid, game] : running) {
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
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    report.clearBar();

    writeClosingReport(options.out, finished, config.games, playedNow, failed,
                       std::chrono::duration<double>(Clock::now() - start).count());
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return failed > 0 ? kExitSomeFailed : kExitAllPlayed;
}

}  // namespace nimbus::tournament
