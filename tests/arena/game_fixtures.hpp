#pragma once
// Hand-made clouds and settings for the game-rule tests.
#include <cstdint>

#include "arena/game/game.hpp"

namespace nimbus::arena::testing {

// Player's thunderstorm at rest (its id is the player's index, as in a real set-up).
inline Cloud storm(std::int32_t player, float x, float y, float mass = 100.0f) {
    Cloud c;
    c.id = player;
    c.kind = CloudKind::Thunderstorm;
    c.owner = player;
    c.state = {x, y, 0.0f, 0.0f, mass};
    return c;
}

inline Cloud rain(std::int32_t id, float x, float y, float mass, float vx = 0.0f,
                  float vy = 0.0f) {
    Cloud c;
    c.id = id;
    c.state = {x, y, vx, vy, mass};
    return c;
}

// A game of players and ticks without seeded rainclouds (tests place their own).
inline GameSettings settingsFor(std::int32_t players, std::int32_t ticks = 100) {
    GameSettings s;
    s.players = players;
    s.ticks = ticks;
    s.rainclouds = 0;
    return s;
}

}  // namespace nimbus::arena::testing
