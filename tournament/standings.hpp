#pragma once
// Standings over a sequence of games: per entrant the games, wins, mean place, mean final mass
// with its 95 % interval, disconnects and a Weng-Lin rating. Games are folded into the ratings in
// the order they are added, so the same games in the same order give the same standings.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tournament/game_result.hpp"
#include "tournament/rating.hpp"

namespace nimbus::tournament {

struct StandingRow {
    std::int32_t place = 0;  // 1 for the highest ordinal
    std::string entrant;     // the BOT text
    std::string label;       // a shorter name for tables
    std::int32_t games = 0;  // seats played (an entrant with two seats in a game counts two)
    std::int32_t wins = 0;
    double meanRank = 0.0;
    double meanFinalMass = 0.0;
    std::optional<double> massHalfWidth;  // 95 % interval: meanFinalMass +- this
    std::int32_t disconnects = 0;         // seats that ended disconnected or absent
    Rating rating;
};

class Standings {
  public:
    // Folds one game in. An entrant holding several seats takes every seat's rating change.
    void add(const GameOutcome& game);
    std::int32_t games() const { return games_; }
    // Best first: by ordinal, then mean place, then entrant.
    std::vector<StandingRow> rows() const;

  private:
    struct Tally {
        std::int32_t wins = 0;
        std::int32_t disconnects = 0;
        std::int64_t rankSum = 0;
        std::vector<double> masses;
        Rating rating;
    };
    std::map<std::string, Tally> tallies_;
    std::int32_t games_ = 0;
};

// {"games", "rating_model": {...}, "entrants": [{"place", "entrant", "label", "games", "wins",
//  "mean_rank", "mean_final_mass", "final_mass_ci95": [low, high] | null, "disconnects", "mu",
//  "sigma", "ordinal"}]}
nlohmann::json standingsJson(const std::vector<StandingRow>& rows, std::int32_t games);
// A header line and one line per entrant, the same columns.
std::string standingsCsv(const std::vector<StandingRow>& rows);
// A Markdown table, padded so that it also reads as a plain text table.
std::string standingsMarkdown(const std::vector<StandingRow>& rows);

}  // namespace nimbus::tournament
