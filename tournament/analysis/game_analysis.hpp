#pragma once
// Where each player's mass came from and where it went, found by re-running a recorded game from
// its seed and its accepted winds: mass won from rainclouds and from other players, mass blown
// away as wind, mass lost when swallowed, the cause of each death, and the player's chases.
//
// A chase is what a wind aims at: with the wind applied and nothing else blown, the first lighter
// cloud that the player's cloud would swallow within kChaseHorizon ticks (every cloud on its
// free path: damped straight motion with wall bounces). Winds aimed at the same cloud make one
// chase. It ends with the catch, when another cloud swallows the target first (taken), when the
// player aims at another cloud (switched), when no catch came kChaseSlack ticks after the catch
// the last wind aimed for (missed), when the player is swallowed (died), or with the game (cut).
#include <array>
#include <cstdint>
#include <vector>

#include "arena/game/game.hpp"

namespace nimbus::tournament {

inline constexpr std::int32_t kChaseHorizon = 600;
inline constexpr std::int32_t kChaseSlack = 60;

// A game as its replay records it: the settings it was set up with, how many ticks were played
// and every accepted wind (the tick whose step applied it), in the order they were applied.
struct RecordedGame {
    arena::GameSettings settings;
    std::vector<arena::Cloud> start;  // the clouds at tick 0 when not the settings' seeded start
    std::int32_t endTick = 0;
    std::vector<arena::WindEvent> winds;
};

enum class ChaseEnd { Caught, Taken, Switched, Missed, Died, Cut };
inline constexpr std::size_t kChaseEnds = 6;

struct PlayerFigures {
    double startMass = 0.0;
    double finalMass = 0.0;       // 0 once swallowed
    double rainGain = 0.0;        // mass of the rainclouds it swallowed, as they were then
    double playerGain = 0.0;      // mass of the thunderstorms it swallowed
    double windSpent = 0.0;       // the strength of every accepted wind
    double lostSwallowed = 0.0;   // its mass when it was swallowed
    std::int64_t winds = 0;       // accepted winds
    std::int32_t rainCaught = 0;  // rainclouds swallowed
    std::int32_t playersCaught = 0;
    std::int32_t outAtTick = -1;    // the tick it was swallowed, -1 if never
    std::int32_t swallowedBy = -1;  // the player that swallowed it, -1 for a raincloud or never
    std::array<std::int32_t, kChaseEnds> chases{};  // chases by how they ended
    double chaseWind = 0.0;                         // wind blown in chases, caught or not
    double missedChaseWind = 0.0;  // wind blown in chases that ended without the catch
};

// One entry per player of the game, by player index. Re-runs the game tick by tick: the same
// settings and winds give the arena's game bit for bit. Throws std::invalid_argument when a
// recorded wind is refused or names a player the game does not have (not the recorded game).
std::vector<PlayerFigures> analyzeGame(const RecordedGame& game);

}  // namespace nimbus::tournament
