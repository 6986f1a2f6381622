#pragma once
// One game as the standings see it: every seat's entrant, place, final mass and status, read from
// the arena's results.json and checked against what the game must be (its seats, seed and
// settings, when known). A file that is not whole, not a game that was played, or not this game
// never counts.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace nimbus::tournament {

struct SeatResult {
    std::string entrant;  // the BOT text: "builtin:greedy", or the command the arena started
    std::int32_t rank = 0;
    double finalMass = 0.0;
    std::string status;       // "playing", "out", "disconnected" or "absent"
    std::string log;          // the bot's log file, empty when none
    std::int32_t player = 0;  // the player's index in the game
    std::string name{};       // the name it played under
};

// How the arena kept its ticks while a client was connected.
struct Pacing {
    double p50Ms = 0.0;
    double p99Ms = 0.0;
    double maxMs = 0.0;
    std::int64_t catchUpTicks = 0;
};

struct GameOutcome {
    std::uint64_t seed = 0;
    // The settings the results name (ticks asked for, rainclouds, tick length), none when absent.
    std::optional<std::int64_t> ticks;
    std::optional<std::int64_t> rainclouds;
    std::optional<std::int64_t> tickMs;
    std::string endReason;
    bool played = true;             // false: nobody was seated; then every seat is absent
    std::optional<Pacing> pacing;   // none for a game that never ran on the clock
    bool sandboxed = false;         // its bots were in a sandbox (settings.sandbox)
    std::vector<SeatResult> seats;  // best first
};

// What a game must be, as far as it is known: its entrants (in seat order, which is the order of
// its BOTs on the arena's command line), its seed and the arena settings it was played with.
// The arena numbers the builtins 0, 1, ... in seat order and logs the k-th bot it started to
// ...-bot<k>.log, so a results file says each player's seat.
struct ExpectedGame {
    std::optional<std::vector<std::string>> seats;
    std::optional<std::uint64_t> seed;
    std::optional<std::int32_t> ticks;
    std::optional<std::int32_t> tickMs;
    std::optional<std::int32_t> rainclouds;
    std::optional<nlohmann::json> sandbox;  // settings.sandbox: null, or the sandbox's limits
};

enum class GameState {
    Missing,     // no results file
    Broken,      // not a whole results file (or not a regular file)
    NotPlayed,   // the arena says no game took place: nobody was seated
    Unfinished,  // the game was interrupted
    Invalid,     // whole, but not a possible game: places, masses, players, fields
    Foreign,     // a possible game, but not this one: other entrants, seed or settings
    Finished,
};

struct LoadedGame {
    GameState state = GameState::Missing;
    GameOutcome outcome;  // for Finished, and the seats of NotPlayed
    std::string problem;  // why not, for Broken, Invalid and Foreign (printable)
};

// The game in a parsed results file, checked. Builtins are "builtin:<kind>"; a bot is its
// "command" (or, in a file without commands, the BOT of `expected.seats` that its log number
// names). Checks: the players are 1 to 64 and as many as settings.players; their indexes 0..n-1
// and places 1..n once each; masses are finite, 0 to 1e9; kinds and statuses are known; and
// whatever `expected` knows agrees, the entrants seat by seat (a bot the arena could not start,
// which has no log, may take any seat of its command that no started bot took).
LoadedGame checkGame(const nlohmann::json& results, const ExpectedGame& expected);

// Reads and checks the results file at `path`. A seat's log is taken as the file of that name
// beside the results file (the arena writes it there), whatever folder the results name.
LoadedGame loadGame(const std::filesystem::path& path, const ExpectedGame& expected);

}  // namespace nimbus::tournament
