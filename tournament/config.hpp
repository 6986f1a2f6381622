#pragma once
// A tournament's settings: the roster, the seats a game, the number of games, the seeds and the
// arena options every game is played with. Stored as DIR/tournament.json so that a rerun into
// the same folder is checked against what was started there.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace nimbus::tournament {

// Arena options passed through to every game; an unset one keeps the arena's default.
struct ArenaSettings {
    std::optional<std::int32_t> ticks;
    std::optional<std::int32_t> tickMs;
    std::optional<std::int32_t> rainclouds;
    std::optional<double> lobbySeconds;
    bool operator==(const ArenaSettings&) const = default;
};

struct TournamentConfig {
    std::vector<std::string> roster;  // each entrant's BOT text, as the arena takes it
    std::int32_t players = 0;         // seats a game
    std::int32_t games = 0;
    std::uint64_t seedBase = 1;
    ArenaSettings arena;
};

nlohmann::json toJson(const TournamentConfig& config);
// Throws std::runtime_error naming what is missing or malformed.
TournamentConfig configFromJson(const nlohmann::json& json);

// How `stored` and `wanted` differ in anything that changes a game ("players 3, now 4; ..."),
// empty when they agree. The number of games may differ: game n is the same game either way.
std::string configDifference(const TournamentConfig& stored, const TournamentConfig& wanted);

}  // namespace nimbus::tournament
