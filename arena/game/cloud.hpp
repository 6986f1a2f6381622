#pragma once
// A cloud of the arena: its stable id, its kind, the player who steers it (thunderstorms only)
// and its physical state.
#include <cstdint>

#include "bot/physics/cloud_state.hpp"

namespace nimbus::arena {

enum class CloudKind { Thunderstorm, Raincloud };

struct Cloud {
    std::int32_t id = 0;
    CloudKind kind = CloudKind::Raincloud;
    std::int32_t owner = -1;  // player index for a thunderstorm, -1 for a raincloud
    CloudState state;
};

}  // namespace nimbus::arena
