#pragma once
// The figures of game_analysis.hpp summed per entrant over many games, as Markdown tables and
// JSON, so that two strategies can be compared side by side.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tournament/analysis/game_analysis.hpp"

namespace nimbus::tournament {

class AnalysisReport {
  public:
    // Adds one game: entrants[i] is player i's entrant, figures[i] its figures.
    void add(const std::vector<std::string>& entrants, const std::vector<PlayerFigures>& figures);

    std::int32_t games() const { return games_; }

    // Entrants are shown by their label where labels has one (the standings' short names).
    using Labels = std::map<std::string, std::string>;

    // Two tables, entrants in the order of their first seat: where the mass came from and went
    // (per seat) with the deaths and their causes; the chases, how they ended and the wind blown
    // in them (per seat). Empty tables for no games.
    std::string markdown(const Labels& labels = {}) const;

    // {"games", "entrants": [{"entrant", "label", "seats", "final_mass", "rain_gain",
    // "player_gain",
    //  "wind_spent", "lost_swallowed", "winds" (all per seat), "gain_per_wind", "deaths":
    //  {"raincloud", "<entrant>": n, ...}, "chases": {"caught", "taken", "switched", "missed",
    //  "died", "cut"}, "chase_wind", "missed_chase_wind" (per seat)}]}
    nlohmann::json json(const Labels& labels = {}) const;

  private:
    struct Tally {
        std::int32_t seats = 0;
        PlayerFigures sum;  // sums over the seats (outAtTick and swallowedBy unused)
        std::int32_t deathsByRain = 0;
        std::map<std::string, std::int32_t> deathsBy;  // by the swallowing player's entrant
    };
    const Tally& tally(const std::string& entrant) const { return tallies_.at(entrant); }

    std::vector<std::string> order_;  // entrants by first appearance
    std::map<std::string, Tally> tallies_;
    std::int32_t games_ = 0;
};

}  // namespace nimbus::tournament
