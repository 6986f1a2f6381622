#pragma once
// The arena's side of the wind law (bot/physics/wind_law.hpp): the verdict on a wind, with the
// phrase of the ERROR reply when refused, and the law applied to an accepted one.
#include <string>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/wind_law.hpp"

namespace nimbus::arena {

// The law's constants and the strength as the arena charges it, for the arena's callers.
using nimbus::kMaxWindShare;
using nimbus::kWindPush;
using nimbus::windStrength;

struct WindVerdict {
    bool accepted = false;
    std::string reason;  // empty when accepted; a short phrase for the ERROR reply otherwise
};

// Whether a cloud of this mass may blow the wind; nothing changes.
WindVerdict checkWind(float mass, float wx, float wy);

// Checks the wind and, when accepted, applies it to c (blowWind): velocity change, then the cost.
WindVerdict applyWind(CloudState& c, float wx, float wy);

}  // namespace nimbus::arena
