#pragma once
// Replays: the settings, the players (each with its count of refused winds), every tick's clouds
// (id, kind, owner, x, y and mass rounded to hundredths, plus an exact fingerprint per tick) and
// the events (accepted winds with the tick whose step applied them, swallows, eliminations).
// Verification re-runs the game from the recorded seed and winds and checks every tick.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"
#include "arena/game/results.hpp"

namespace nimbus::arena {

class ReplayRecorder {
  public:
    // Records the game's current state as the first frame.
    explicit ReplayRecorder(const Game& game);

    // Records the game's state after a tick; call once after every Game::step.
    void capture(const Game& game);

    std::size_t frameCount() const { return frames_.size(); }

    // The whole replay. endReason says why the game ended ("ticks", "one_left", "no_players",
    // "interrupted"). Every number in it is finite.
    nlohmann::json toJson(const Game& game, const std::vector<PlayerInfo>& players,
                          std::int32_t tickMs, const std::string& endReason) const;

  private:
    struct FrameCloud {
        std::int32_t id;
        float x;
        float y;
        float mass;
    };
    std::vector<char> kinds_;           // by cloud id: 'T' or 'R'
    std::vector<std::int32_t> owners_;  // by cloud id
    std::vector<std::vector<FrameCloud>> frames_;
    std::vector<std::uint64_t> fingerprints_;
};

struct VerifyReport {
    bool ok = false;
    bool notReplay = false;  // the file is not a replay this arena can trust (shape or bounds)
    std::int32_t ticksChecked = 0;
    std::string message;  // why, when not ok
};

// Checks the replay's shape and every number it reads (settings within the limits of
// arena/limits.hpp, ids, ticks, wind components, frames) before anything is allocated for it,
// then re-runs the recorded game and compares every tick with the record. Never throws.
VerifyReport verifyReplay(const nlohmann::json& replay);

}  // namespace nimbus::arena
