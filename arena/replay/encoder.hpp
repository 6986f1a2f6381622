#pragma once
// The replay's lines (format version 2, docs/replay.md): a header, one line per tick, an end
// line, each one JSON object. A tick line holds only what changed since the line before: the
// positions and masses of the clouds that moved or changed mass, the winds the tick's step
// applied and the swallows it saw; every hundredth tick also the state's fingerprint.
// Floats are written as the shortest text that reads back to the same 32-bit float, so the
// lines are exact and the same game always gives the same text.
#include <cstdint>
#include <string>
#include <vector>

#include "arena/game/game.hpp"
#include "arena/game/results.hpp"

namespace nimbus::arena {

inline constexpr int kReplayVersion = 2;
inline constexpr const char* kReplayFormat = "nimbus-arena-replay";
// A tick line whose tick is a multiple of this carries the fingerprint (the end line always).
inline constexpr std::int32_t kFingerprintEvery = 100;

// Appends the shortest decimal text that reads back (as a 32-bit float) to v; v is finite.
void appendFloat(std::string& out, float v);

// The fingerprint as 16 lower-case hex digits.
std::string fingerprintText(std::uint64_t fingerprint);

class ReplayEncoder {
  public:
    // Remembers nothing yet: the first tick line lists every cloud.
    explicit ReplayEncoder(const Game& game);

    // {"format", "version", "settings": {"seed", "ticks", "rainclouds", "players", "tick_ms",
    // "arena"}, "players": [{"index", "name", "kind"}]}, with its line feed.
    static std::string header(const Game& game, const std::vector<PlayerInfo>& players,
                              std::int32_t tickMs);
    static std::string header(const GameSettings& settings, const std::vector<PlayerInfo>& players,
                              std::int32_t tickMs);

    // Appends the line of the game's current tick, with its line feed: {"t", "p": [id, x, y, ...]
    // of the clouds whose position changed, "m": [[id, mass], ...] of those whose mass changed,
    // "w": [[player, wx, wy], ...] the winds in the game's log (applied by the step to this
    // tick), "s": [[by, victim], ...] the swallows in its log, "f": fingerprint}; "m", "w", "s"
    // only when not empty, "f" only every kFingerprintEvery ticks. The caller forgets the logs.
    void appendTick(const Game& game, std::string& out);

    // {"end_tick", "end_reason", "refused": [refused winds per player], "f"}, with its line feed.
    static std::string endLine(const Game& game, const std::string& endReason);
    // The same with the refused winds given (one count per player), not taken from the game.
    static std::string endLine(const Game& game, const std::string& endReason,
                               const std::vector<std::int64_t>& refused);

  private:
    std::vector<std::uint32_t> x_;  // by cloud id, the bits last written
    std::vector<std::uint32_t> y_;
    std::vector<std::uint32_t> mass_;
};

}  // namespace nimbus::arena
