#pragma once
// Standings over a sequence of games: per entrant the games, wins, mean place, mean final mass
// with its 95 % interval, disconnects and a Weng-Lin rating. Games are folded into the ratings in
// the order they are added, so the same games in the same order give the same standings. Memory
// is per entrant, not per game. Also kept: the entrants that never connected in any of their
// games, and the game whose ticks were kept worst.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tournament/records/game_result.hpp"
#include "tournament/standings/rating.hpp"
#include "tournament/standings/stats.hpp"

namespace nimbus::tournament {

// A game whose tick lag p99 exceeds this was not fair to real-time bots.
constexpr double kFairLagMs = 4.0;

struct StandingRow {
    std::int32_t place = 0;  // 1 for the highest ordinal
    std::string entrant;     // the BOT text
    std::string label;       // the entrant's label (entrantLabels)
    std::int32_t games = 0;  // seats played (an entrant with two seats in a game counts two)
    std::int32_t wins = 0;
    double meanRank = 0.0;
    double meanFinalMass = 0.0;
    std::optional<double> massHalfWidth;  // 95 % interval: meanFinalMass +- this
    std::optional<double> massSd;         // the final masses' standard deviation
    std::int32_t disconnects = 0;         // seats that ended disconnected or absent
    Rating rating;
};

// An entrant that never named itself in any game it was seated in (games not played included).
struct NeverConnected {
    std::string entrant;
    std::string label;
    std::int32_t seats = 0;
    std::string log;  // the log of one of its seats, empty when none
};

// The game with the highest tick lag p99, and how many games exceeded kFairLagMs.
struct PacingReport {
    std::string game;  // as given to Standings::add
    Pacing worst;
    std::int32_t unfair = 0;
};

class Standings {
  public:
    // Entrants to label even before they have played (a run's roster).
    void know(const std::vector<std::string>& entrants);
    // Folds one played game in; `game` names it in reports ("game 12" or a path). An entrant
    // holding several seats takes every seat's rating change.
    void add(const GameOutcome& outcome, const std::string& game = "");
    // Notes the seats of a game that was not played (nobody was seated).
    void noteUnplayed(const GameOutcome& outcome);

    std::int32_t games() const { return games_; }
    // Of those, the games whose bots were in a sandbox.
    std::int32_t sandboxedGames() const { return sandboxed_; }
    // Best first: by ordinal, then mean place, then entrant.
    std::vector<StandingRow> rows() const;
    // The label of the best entrant so far, empty before any game.
    std::string leader() const;
    std::vector<NeverConnected> neverConnected() const;
    const std::optional<PacingReport>& pacing() const { return pacing_; }

  private:
    struct Tally {
        std::int32_t wins = 0;
        std::int32_t disconnects = 0;
        std::int64_t rankSum = 0;
        RunningMean mass;
        Rating rating;
    };
    struct Presence {
        std::int32_t seats = 0;
        std::int32_t absent = 0;
        std::string log;
    };
    void notePresence(const GameOutcome& outcome);
    std::map<std::string, std::string> labels() const;

    std::map<std::string, Tally> tallies_;
    std::map<std::string, Presence> presence_;
    std::set<std::string> known_;
    std::optional<PacingReport> pacing_;
    std::int32_t games_ = 0;
    std::int32_t sandboxed_ = 0;
};

// {"games", "sandboxed_games", "rating_model": {...}, "entrants": [{"place", "entrant", "label",
//  "games", "wins", "mean_rank", "mean_final_mass", "final_mass_ci95": [low, high] | null,
//  "final_mass_sd": sd | null, "disconnects", "mu", "sigma", "ordinal"}], "never_connected":
//  [{"entrant", "label", "seats", "log",
//  "log_tail": [lines]}], "pacing": null | {"worst_game", "tick_lag_p50_ms", "tick_lag_p99_ms",
//  "tick_lag_max_ms", "largest_catch_up_ticks", "games_over_4_ms"}}
nlohmann::json standingsJson(const Standings& standings);
// A header line and one line per entrant, the same columns, the label beside the entrant. Text
// cells are quoted as CSV needs, and those a spreadsheet would take for a formula start with '.
std::string standingsCsv(const std::vector<StandingRow>& rows);
// A Markdown table, padded so that it also reads as a plain text table ('|' escaped).
std::string standingsMarkdown(const std::vector<StandingRow>& rows);

// "tick lag p50 0.1 ms, p99 0.4 ms, max 2.3 ms, largest catch-up 2 ticks"
std::string pacingText(const Pacing& pacing);

// The lines to read after the table: how many games were sandboxed (when any was), the worst
// game's pacing, how many games were not fair to real-time bots, and every entrant that never
// connected, with the end of one of its logs.
std::vector<std::string> closingReport(const Standings& standings);

// The last `count` lines of a bot's log, printable, for a report.
std::vector<std::string> logTail(const std::string& path, std::size_t count = 5);

}  // namespace nimbus::tournament
