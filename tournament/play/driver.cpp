#include "tournament/play/driver.hpp"

#include <cstdio>

#include "tournament/play/arena_command.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/play/schedule.hpp"
#include "tournament/standings/standings_files.hpp"
#include "tournament/records/tournament_folder.hpp"

namespace nimbus::tournament {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::string gameList(const std::vector<std::int32_t>& games) {
    std::string text;
    for (const std::int32_t n : games) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(n);
    }
    return text;
}

// The signals that stop a run, blocked from the start to the end: the standings are written
// whatever happens to standard output (SIGPIPE: `... | head -1`).
class StopSignals {
  public:
    explicit StopSignals(bool childExits) {
        ::sigemptyset(&watched_);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            ::sigaddset(&watched_, s);
        }
        if (childExits) {
            ::sigaddset(&watched_, SIGCHLD);
        }
        ::sigprocmask(SIG_BLOCK, &watched_, nullptr);
    }
    // A stop signal that came within `wait`, or 0.
    int wait(timespec wait) const {
        const int sig = ::sigtimedwait(&watched_, nullptr, &wait);
        return sig > 0 && sig != SIGCHLD ? sig : 0;
    }

  private:
    sigset_t watched_;
};

}  // namespace

Driver::Driver(const TournamentConfig& config, fs::path out,
               const std::vector<std::int32_t>& finished)
    : config_(config),
      out_(std::move(out)),
      states_(static_cast<std::size_t>(config.games), Waiting),
      labels_(entrantLabels(config.roster)),
      start_(Clock::now()) {
    standings_.know(config.roster);
    for (const std::int32_t n : finished) {
        states_[static_cast<std::size_t>(n - 1)] = Finished;
    }
    toPlay_ = config.games - static_cast<std::int32_t>(finished.size());
}

GameSpec Driver::game(std::int32_t n) const {
    return scheduledGame(n, static_cast<std::int32_t>(config_.roster.size()), config_.players,
                         config_.seedBase);
}

int Driver::play(GamePlayer& player) {
    player_ = &player;
    const StopSignals signals(player.wakesOnChildExit());
    fold(false);
    while (player.step(*this)) {
        report_.bar(progress());
        if (const int sig = signals.wait(player.pollEvery()); sig != 0) {
            const bool again = stopSignal_ != 0;
            stopSignal_ = again ? stopSignal_ : sig;
            player.stop(*this, again);
        }
    }
    report_.clearBar();
    fold(true);
    writeClosingReport(out_, standings_, config_.games, playedNow_,
                       static_cast<std::int32_t>(failed_.size()),
                       std::chrono::duration<double>(Clock::now() - start_).count());
    if (stopSignal_ == 0 && !failed_.empty()) {
        std::printf("failed: game%s %s %s\n", failed_.size() > 1 ? "s" : "",
                    gameList(failed_).c_str(), player.againHint().c_str());
        std::fflush(stdout);
    }
    return exitCode();
}

void Driver::finished(std::int32_t n, const LoadedGame& loaded) {
    ++playedNow_;
    const std::string winner = labels_.at(loaded.outcome.seats.front().entrant);
    settle(n, Finished);
    report_.gameDone("game " + std::to_string(n) + " (seed " + std::to_string(game(n).seed) +
                         ") won by " + winner,
                     progress());
}

void Driver::failed(std::int32_t n, const LoadedGame& loaded, const std::string& why) {
    if (loaded.state == GameState::NotPlayed) {
        standings_.noteUnplayed(loaded.outcome);
    }
    failed_.push_back(n);
    report_.line(why);
    settle(n, Failed);
}

void Driver::dropped(std::int32_t n, const LoadedGame& loaded) {
    if (loaded.state == GameState::NotPlayed) {
        standings_.noteUnplayed(loaded.outcome);
    }
    settle(n, Failed);
}

void Driver::settle(std::int32_t n, State state) {
    states_[static_cast<std::size_t>(n - 1)] = state;
    fold(false);
}

// Folds games into the standings in game-number order as far as they are settled. `all`: the
// run is over, so games still waiting are passed over.
void Driver::fold(bool all) {
    while (folded_ < config_.games) {
        const std::int32_t n = folded_ + 1;
        const State state = states_[static_cast<std::size_t>(n - 1)];
        if (state == Waiting && !all) {
            break;
        }
        if (state == Finished) {
            const LoadedGame loaded =
                loadGame(gameFolder(out_, n) / "results.json", expectedGame(config_, game(n)));
            if (finishedAs(loaded, game(n))) {
                standings_.add(loaded.outcome, "game " + std::to_string(n));
            }
        }
        folded_ = n;
    }
}

Progress Driver::progress() const {
    Progress p;
    p.done = config_.games - toPlay_ + playedNow_;
    p.total = config_.games;
    p.running = player_ != nullptr ? player_->running() : 0;
    p.failed = static_cast<std::int32_t>(failed_.size());
    p.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (playedNow_ > 0) {
        const auto left = static_cast<double>(toPlay_) - playedNow_ - p.failed;
        p.etaSeconds = p.elapsedSeconds / playedNow_ * left;
    }
    p.leader = standings_.leader();
    return p;
}

int Driver::exitCode() const {
    if (stopSignal_ != 0) {
        return 128 + stopSignal_;
    }
    return !failed_.empty() || !standings_.neverConnected().empty() ? kExitSomeFailed
                                                                    : kExitAllPlayed;
}

bool finishedAs(const LoadedGame& loaded, const GameSpec& game) {
    return loaded.state == GameState::Finished && loaded.outcome.seed == game.seed &&
           loaded.outcome.seats.size() == game.seats.size();
}

void writeStandingsReport(const fs::path& out, const Standings& standings,
                          const std::string& headline) {
    writeStandingsFiles(out, standings);
    std::printf("%s\n\n%s\n", headline.c_str(), standingsMarkdown(standings.rows()).c_str());
    for (const std::string& line : closingReport(standings)) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("standings: %s\n", printable((out / "standings.md").string()).c_str());
    std::fflush(stdout);
}

void writeClosingReport(const fs::path& out, const Standings& standings, std::int32_t games,
                        std::int32_t playedNow, std::int32_t failed, double elapsedSeconds) {
    const std::string failures = failed > 0 ? ", " + std::to_string(failed) + " failed" : "";
    writeStandingsReport(out, standings,
                         std::to_string(standings.games()) + " of " + std::to_string(games) +
                             " games played (" + std::to_string(playedNow) + " now, in " +
                             clock(elapsedSeconds) + ")" + failures);
}

}  // namespace nimbus::tournament
