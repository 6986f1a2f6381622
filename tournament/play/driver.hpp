#pragma once
// One tournament driver for every way of playing its games (local arena processes, Slurm jobs):
// it folds the games into the standings in game-number order as they settle, shows the progress,
// turns SIGINT, SIGTERM, SIGHUP and SIGPIPE into an orderly stop (a second one: at once), and
// ends with the standings files, the closing report and the exit code.
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tournament/records/config.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/play/progress.hpp"
#include "tournament/play/schedule.hpp"
#include "tournament/standings/standings.hpp"

namespace nimbus::tournament {

// Exit codes of run and slurm.
constexpr int kExitAllPlayed = 0;
constexpr int kExitSomeFailed = 1;  // some games could not be played; the others count
constexpr int kExitUsage = 2;

class Driver;

// A way of playing the games still missing.
class GamePlayer {
  public:
    virtual ~GamePlayer() = default;
    // Starts what may start and tells `driver` of each game that settled. False once nothing runs
    // and nothing more will start (every game settled, or the stop is complete).
    virtual bool step(Driver& driver) = 0;
    // A stop signal: the first stops the running games in order, a later one at once.
    virtual void stop(Driver& driver, bool again) = 0;
    virtual std::int32_t running() const = 0;
    // How long the driver waits for a signal between steps, and whether a child's exit ends the
    // wait early.
    virtual timespec pollEvery() const = 0;
    virtual bool wakesOnChildExit() const = 0;
    // After "failed: games 3, 7 ": where to look and how to play them again.
    virtual std::string againHint() const = 0;
};

class Driver {
  public:
    // The tournament recorded in `out`; `finished` lists the games whose results were whole
    // before this run (in any order).
    Driver(const TournamentConfig& config, std::filesystem::path out,
           const std::vector<std::int32_t>& finished);

    // Plays the missing games with `player` to the end. Returns kExitAllPlayed, kExitSomeFailed
    // (a game failed or an entrant never connected), or 128 + the stop signal.
    int play(GamePlayer& player);

    // What a player reports. Game n finished with whole results:
    void finished(std::int32_t n, const LoadedGame& loaded);
    // Game n failed (`why` for the line); `loaded` may name entrants that never connected.
    void failed(std::int32_t n, const LoadedGame& loaded, const std::string& why);
    // Game n was stopped by us: it is played again by the next run.
    void dropped(std::int32_t n, const LoadedGame& loaded);

    const TournamentConfig& config() const { return config_; }
    const std::filesystem::path& out() const { return out_; }
    ProgressReporter& report() { return report_; }
    bool stopping() const { return stopSignal_ != 0; }
    GameSpec game(std::int32_t n) const;
    std::int32_t toPlay() const { return toPlay_; }

  private:
    enum State : char { Waiting, Finished, Failed };
    void settle(std::int32_t n, State state);
    void fold(bool all);
    Progress progress() const;
    int exitCode() const;

    const TournamentConfig& config_;
    std::filesystem::path out_;
    std::vector<State> states_;  // a byte a game: results are read again when folded
    std::int32_t folded_ = 0;    // games 1..folded_ are in the standings (or passed over)
    std::int32_t toPlay_ = 0;
    std::int32_t playedNow_ = 0;
    std::vector<std::int32_t> failed_;
    int stopSignal_ = 0;
    Standings standings_;
    std::map<std::string, std::string> labels_;
    ProgressReporter report_;
    std::chrono::steady_clock::time_point start_;
    const GamePlayer* player_ = nullptr;  // while play() runs
};

// Whether `loaded` holds the finished results of `game`.
bool finishedAs(const LoadedGame& loaded, const GameSpec& game);

// Writes the standings files into `out` and prints the headline, the standings table, the closing
// report (flags, pacing) and where the files are.
void writeStandingsReport(const std::filesystem::path& out, const Standings& standings,
                          const std::string& headline);

// The report at the end of a run: headline "N of M games played (K now, in T)[, F failed]".
void writeClosingReport(const std::filesystem::path& out, const Standings& standings,
                        std::int32_t games, std::int32_t playedNow, std::int32_t failed,
                        double elapsedSeconds);

}  // namespace nimbus::tournament
