#pragma once
// A tournament's settings: the roster, the seats a game, the number of games, the seeds and the
// arena options every game is played with. Stored as DIR/tournament.json so that a rerun into
// the same folder is checked against what was started there.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "util/sandbox.hpp"

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
    // Every bot in a sandbox with these limits (--sandbox); part of the identity: a sandboxed
    // tournament is another tournament than the same one without.
    std::optional<util::SandboxLimits> sandbox;
    std::string arenaPath;    // the nimbus-arena played with (not part of the identity)
    std::string arenaDigest;  // its build: a digest of the executable (see fileDigest)
};

nlohmann::json toJson(const TournamentConfig& config);
// Throws std::runtime_error naming what is missing or malformed.
TournamentConfig configFromJson(const nlohmann::json& json);

// How `stored` and `wanted` differ in anything that changes a game ("players 3, now 4; ..."),
// the arena's build included, empty when they agree. The number of games is not compared: game n
// is the same game either way.
std::string configDifference(const TournamentConfig& stored, const TournamentConfig& wanted);

// The tournament's identity: a digest of everything configDifference compares but the number of
// games. Every game folder records it.
std::string tournamentId(const TournamentConfig& config);

// A digest of a file's bytes (64-bit FNV-1a, 16 hex digits). Throws std::runtime_error when the
// file cannot be read.
std::string fileDigest(const std::string& path);

}  // namespace nimbus::tournament
