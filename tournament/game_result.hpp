#pragma once
// One finished game as the standings see it: every seat's entrant, place, final mass and status,
// read from the arena's results.json (and the game.json beside it, when there is one).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace nimbus::tournament {

struct SeatResult {
    std::string entrant;  // the BOT text: "builtin:greedy", or the command the arena started
    std::int32_t rank = 0;
    double finalMass = 0.0;
    std::string status;  // "playing", "out", "disconnected" or "absent"
};

struct GameOutcome {
    std::uint64_t seed = 0;
    std::string endReason;         // empty when the arena did not write one
    std::vector<SeatResult> seats;  // best first
};

// The entrant of every player in a parsed results file. Builtins are "builtin:<kind>"; a bot is
// its "command", or, for files without commands, the BOT of `seats` (the game's BOTs in arena
// order) that its log file number names. A missing status is "out" when the player has an
// out_at_tick, else "playing". Throws std::runtime_error when a player cannot be attributed.
GameOutcome outcomeOf(const nlohmann::json& results, const std::vector<std::string>& seats);

enum class GameState {
    Missing,     // no results file
    Broken,      // not whole: does not parse as an object with a players list
    Unfinished,  // whole, but the game was interrupted
    Unknown,     // whole, but a player cannot be attributed to an entrant
    Finished,
};

struct LoadedGame {
    GameState state = GameState::Missing;
    GameOutcome outcome;  // when Finished
    std::string problem;  // why not, for Broken and Unknown
};

// Reads results.json at `path`, and game.json beside it when present ({"seats": [BOT...]}).
LoadedGame loadGame(const std::filesystem::path& path);

}  // namespace nimbus::tournament
