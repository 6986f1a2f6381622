#pragma once
// The end of a game: every player ranked, as a text table and as the results JSON. Ranking:
// players still in at the end by final mass (heaviest first); then those swallowed, later
// elimination first; then those whose connection closed while their cloud was still in, later
// departure first, then by final mass; then the absent (started bots that never named
// themselves). Ties keep index order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"
#include "util/sandbox.hpp"

namespace nimbus::arena {

// Who a player is, as the server knows it. kind is "bot" (a BOT the arena started), "builtin" or
// "client" (connected by itself); command is the BOT command line, empty for the others; log is
// the bot process's log file, empty when there is none. leftAtTick is the tick at which the
// player's connection closed while its cloud was still in the game, -1 if it never did.
// rejectedStates counts its GET_STATE commands refused for the command budget. stopReason is the
// sandbox's limit it was stopped for ("memory limit", "process limit", "cpu limit"), empty when
// none.
struct PlayerInfo {
    std::string name;
    std::string kind;
    std::string log;
    std::string command;
    std::int32_t leftAtTick = -1;
    std::int64_t rejectedStates = 0;
    std::string stopReason = {};
};

enum class PlayerStatus { Playing, Out, Disconnected, Absent };

// "playing", "out", "disconnected", "absent".
const char* statusName(PlayerStatus status);

struct ResultRow {
    std::int32_t player = 0;  // the player's index
    std::int32_t rank = 0;
    PlayerInfo info;
    PlayerStatus status = PlayerStatus::Playing;
    float finalMass = 0.0f;  // 0 once swallowed, and for an absent player
    PlayerRecord record;     // all zero and no elimination for an absent player
};

// One row per player, best first. players[i] describes player i: the first
// game->settings().players are in the game; any further ones are absent (never named
// themselves), as is everyone when game is nullptr (no game was played).
std::vector<ResultRow> rankPlayers(const Game* game, const std::vector<PlayerInfo>& players);

// The results table: a header line and one line per row, with each player's status. Names are
// cut to 20 characters (never inside a character) and padded to 20.
std::string resultsTable(const std::vector<ResultRow>& rows);

// How well the arena kept its tick schedule while a client was connected (see TickStats).
struct PacingFigures {
    double lagP50Ms = 0.0;
    double lagP99Ms = 0.0;
    double lagMaxMs = 0.0;
    std::int64_t largestCatchUp = 0;  // the most ticks one wake-up had to run
};

// What became of the replay (--replay FILE): whole (at FILE), partial (a failed write cut it
// short) or none (none asked for, no game, not created, or removed to make room for the results).
enum class ReplayState { None, Whole, Partial };

// "none", "whole", "partial".
const char* replayStateName(ReplayState state);

struct ReplayRecord {
    ReplayState state = ReplayState::None;
    std::string path;     // where it is: FILE, FILE.partial, or FILE written in place; "" for none
                          // (not in the JSON, which stays the same wherever the files are)
    std::string problem;  // why it is not whole ("" when it is, or when none was asked for)
};

// What the results JSON says about the game besides its players.
struct ResultsSummary {
    std::uint64_t seed = 0;
    std::int32_t ticksRequested = 0;
    std::int32_t ticksPlayed = 0;
    std::int32_t tickMs = 0;
    std::int32_t rainclouds = 0;
    std::string endReason;  // "ticks", "one_left", "no_players" or "interrupted"
    bool played = true;     // false: nobody was seated, no game took place
    std::optional<PacingFigures> pacing = std::nullopt;  // none when no tick ran on the clock
    std::optional<util::SandboxLimits> sandbox = std::nullopt;  // the bots' sandbox, if any
    ReplayRecord replay = {};
};

// {"version", "played", "seed", "ticks" (requested), "ticks_played", "end_reason",
//  "settings": {"seed", "tick_ms", "rainclouds", "players" (every player listed), "sandbox"
//  (null, or its limits: util::sandboxJson)},
//  "pacing": null | {"tick_lag_p50_ms", "tick_lag_p99_ms", "tick_lag_max_ms",
//  "largest_catch_up_ticks"}, "replay": {"state", "problem" (null when none)},
//  "players": [{"index", "name", "kind", "command" (null unless a bot), "status",
//  "left_at_tick" (null unless disconnected), "rank" (null when no game was played),
//  "final_mass", "peak_mass", "winds", "rejected_winds", "rejected_states", "swallowed",
//  "out_at_tick" (null when never), "log" (null when none), "stop_reason" (null unless the sandbox
//  stopped it)}]}. docs/results.md defines every field.
nlohmann::json resultsJson(const ResultsSummary& summary, const std::vector<ResultRow>& rows);

// The program version, from the build (the CMake project version).
const char* programVersion();

}  // namespace nimbus::arena
