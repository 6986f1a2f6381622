#include "tournament/play/run.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "arena/game/builtin_player.hpp"
#include "tournament/play/arena_command.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/play/games_at_once.hpp"
#include "tournament/records/tournament_folder.hpp"
#include "util/process.hpp"
#include "util/whole_file.hpp"

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

// The games as arena child processes on this machine, up to GamesAtOnce at a time.
class LocalPlayer final : public GamePlayer {
  public:
    LocalPlayer(const RunOptions& options, const std::vector<std::int32_t>& onDisk)
        : options_(options), onDisk_(onDisk), limit_(options.parallel, options.lowest) {}

    bool step(Driver& driver) override {
        startGames(driver);
        if (killNow_ || (driver.stopping() && Clock::now() - stopAt_ > kStopGrace)) {
            for (const auto& [pid, n] : running_) {
                ::kill(-pid, SIGKILL);
            }
        }
        for (auto it = running_.begin(); it != running_.end();) {
            int status = 0;
            const auto [pid, n] = *it;
            ++it;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                running_.erase(pid);
                gameEnded(driver, n, status);
            }
        }
        return !running_.empty() ||
               (!driver.stopping() && !cannotStart_ && next_ <= options_.config.games);
    }

    void stop(Driver& driver, bool again) override {
        if (again) {
            if (!killNow_) {
                killNow_ = true;
                std::fprintf(stderr, "nimbus-tournament: interrupted again: killing the games\n");
            }
            return;
        }
        driver.report().clearBar();
        std::fprintf(stderr,
                     "nimbus-tournament: interrupted: stopping %zu running games (again to kill "
                     "them at once); rerun with the same --out to play the rest\n",
                     running_.size());
        for (const auto& [pid, n] : running_) {
            ::kill(pid, SIGTERM);
        }
        stopAt_ = Clock::now();
    }

    std::int32_t running() const override { return static_cast<std::int32_t>(running_.size()); }
    timespec pollEvery() const override { return {0, 250'000'000}; }
    bool wakesOnChildExit() const override { return true; }
    std::string againHint() const override {
        return "(see games/<n>/arena.log); rerun with the same --out to play them";
    }

  private:
    void startGames(Driver& driver) {
        while (!driver.stopping() && !cannotStart_ && next_ <= options_.config.games &&
               static_cast<std::int32_t>(running_.size()) < limit_.now()) {
            const std::int32_t n = next_++;
            if (nextOnDisk_ < onDisk_.size() && onDisk_[nextOnDisk_] == n) {
                ++nextOnDisk_;
                continue;
            }
            start(driver, n);
        }
    }

    void start(Driver& driver, std::int32_t n) {
        const fs::path folder = gameFolder(options_.out, n);
        try {
            prepareGame(options_.config, driver.game(n), folder);
            util::ProcessSpec arena;
            arena.argv = arenaArguments(options_.arena, options_.config, driver.game(n), folder);
            arena.outputPath = (folder / "arena.log").string();
            arena.execFailure = "nimbus-tournament: cannot run the arena: ";
            running_.emplace(util::startProcess(arena), n);
            startFailures_ = 0;
        } catch (const std::exception& e) {
            // This game fails (the next run tries it again); the running ones go on.
            driver.failed(n, LoadedGame{}, "game " + std::to_string(n) +
                                               " failed (cannot start it: " +
                                               printable(e.what()) + ")");
            if (++startFailures_ == kStartFailuresToStop) {
                cannotStart_ = true;
                driver.report().line("stopping: " + std::to_string(startFailures_) +
                                     " games in a row could not be started");
            }
        }
    }

    void gameEnded(Driver& driver, std::int32_t n, int status) {
        const fs::path folder = gameFolder(options_.out, n);
        const fs::path results = folder / "results.json";
        const LoadedGame loaded =
            loadGame(results, expectedGame(options_.config, driver.game(n)));
        const bool cleanExit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (cleanExit && loaded.state == GameState::Finished) {
            notePacing(driver, n, loaded.outcome);
            driver.finished(n, loaded);
            return;
        }
        util::moveAside(results.string(), (folder / "results.unfinished.json").string());
        if (driver.stopping()) {
            driver.dropped(n, loaded);  // stopped by us: played again by the next run
            return;
        }
        driver.failed(n, loaded,
                      "game " + std::to_string(n) + " failed (" + util::exitText(status) +
                          (loaded.problem.empty() ? "" : ", " + loaded.problem) + "), see " +
                          printable((folder / "arena.log").string()));
    }

    // Warns of a game unfair to real-time bots and adapts the games at once to its tick lag.
    void notePacing(Driver& driver, std::int32_t n, const GameOutcome& o) {
        if (!o.pacing) {
            return;
        }
        if (o.pacing->p99Ms > kFairLagMs) {
            driver.report().line("warning: game " + std::to_string(n) + ": " +
                                 pacingText(*o.pacing) +
                                 ": p99 over 4 ms, not fair to real-time bots");
        }
        if (limit_.gameEnded(n, o.pacing->p99Ms, next_ - 1)) {
            driver.report().line("playing " + std::to_string(limit_.now()) +
                                 " games at once from now on");
        }
    }

    const RunOptions& options_;
    const std::vector<std::int32_t>& onDisk_;
    GamesAtOnce limit_;
    std::map<pid_t, std::int32_t> running_;
    std::int32_t next_ = 1;       // the next game to look at for starting
    std::size_t nextOnDisk_ = 0;  // onDisk_[nextOnDisk_] is the first finished game not passed
    std::int32_t startFailures_ = 0;
    bool cannotStart_ = false;
    bool killNow_ = false;
    Clock::time_point stopAt_;
};

}  // namespace

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
    Driver driver(config, options.out, onDisk);
    driver.report().line("tournament " + printable(options.out.string()) + ": " +
                         std::to_string(config.games) + " games of " +
                         std::to_string(config.players) + " seats" +
                         (config.sandbox ? ", every bot in a sandbox, " : ", ") +
                         std::to_string(onDisk.size()) + " already played, " +
                         std::to_string(driver.toPlay()) + " to play, " +
                         std::to_string(options.parallel) + " at a time");
    LocalPlayer player(options, onDisk);
    return driver.play(player);
}

}  // namespace nimbus::tournament
