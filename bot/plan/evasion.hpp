#pragma once
// Collision forecast: whether a cloud at least as heavy as the own cloud is on a course that hits
// it, and the one-tick sideways wind that takes the own cloud out of that cloud's path.
#include <cstdint>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/world_snapshot.hpp"

namespace nimbus {

// ticks is 1 when a threat was found (blow the wind for one tick) and 0 otherwise; every result
// without a threat is exactly (0, 0, 0).
struct Evasion {
    float windX;
    float windY;
    std::int32_t ticks;
};

// Tests one other cloud on straight-line relative motion. A threat: other.mass >= own.mass, the
// paths come within the sum of the radii, and the closest approach lies 1 to horizon + 100 ticks
// ahead. The wind, at right angles to the relative velocity, shifts the own cloud to the contact
// distance on its own side, or on the other side when the own side runs into a wall; its
// strength is limited to own.mass x 0.5 - 1 in either direction.
Evasion evadeCloud(const CloudState& own, const CloudState& other, std::int32_t horizon);

// evadeCloud against the rainclouds in list order, then the rivals; the first threat wins.
Evasion forecastCollision(const CloudState& own, const WorldSnapshot& snapshot,
                          std::int32_t horizon);

// True when a raincloud or rival lies at squared distance below 1.0 from (point.x, point.y).
bool anyCloudAt(const CloudState& point, const WorldSnapshot& snapshot);

}  // namespace nimbus
