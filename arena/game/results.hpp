#pragma once
// The end of a game: players ranked (living ones by final mass, then the eliminated ones, later
// elimination first; ties by join order), as a text table and as JSON.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"

namespace nimbus::arena {

// Who a player is, as the server knows it. kind is "bot" or "builtin"; log is the bot process's
// log file, empty when there is none.
struct PlayerInfo {
    std::string name;
    std::string kind;
    std::string log;
};

struct ResultRow {
    std::int32_t player = 0;
    std::int32_t rank = 0;
    PlayerInfo info;
    float finalMass = 0.0f;  // 0 for an eliminated player
    PlayerRecord record;
};

// One row per player, best first. players[i] describes player i.
std::vector<ResultRow> rankPlayers(const Game& game, const std::vector<PlayerInfo>& players);

// The results table: a header line and one line per row.
std::string resultsTable(const std::vector<ResultRow>& rows);

// {"seed", "ticks", "players": [{"name", "kind", "rank", "final_mass", "peak_mass", "winds",
//  "rejected_winds", "swallowed", "out_at_tick" (null when never), "log"}]}
nlohmann::json resultsJson(const Game& game, const std::vector<ResultRow>& rows);

}  // namespace nimbus::arena
