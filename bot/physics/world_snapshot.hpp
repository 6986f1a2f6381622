#pragma once
// The world as one state reply showed it: the tick, the bot's own cloud, the other players'
// clouds and the neutral rainclouds, both lists in the order the server sent them.
#include <cstdint>
#include <list>

#include "bot/physics/cloud_state.hpp"

namespace nimbus {

struct WorldSnapshot {
    std::int32_t tick = 0;
    CloudState own;
    std::list<CloudState> rivals;
    std::list<CloudState> rainclouds;

    // Empties rivals, then rainclouds; tick and own keep their values.
    void clear() {
        rivals.clear();
        rainclouds.clear();
    }
};

}  // namespace nimbus
