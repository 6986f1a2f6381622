#pragma once
// The seeded start of a game: one thunderstorm per player (mass 100, at rest) spread evenly on an
// ellipse around the centre, and rainclouds (mass 4 to 64, small velocities) at random places
// clear of every thunderstorm. Ids: thunderstorms 0 .. players - 1 by player, then rainclouds.
#include <cstdint>
#include <vector>

#include "arena/game/cloud.hpp"

namespace nimbus::arena {

inline constexpr float kThunderstormMass = 100.0f;
inline constexpr float kMinRaincloudMass = 4.0f;
inline constexpr float kMaxRaincloudMass = 64.0f;
inline constexpr double kMaxRaincloudSpeed = 5.0;  // per velocity component
// A new raincloud is placed at least this far from every thunderstorm's edge, where it can.
inline constexpr double kRaincloudClearance = 40.0;

// The clouds of a new game; the same arguments always give the same clouds, bit for bit.
std::vector<Cloud> initialClouds(std::uint64_t seed, std::int32_t players, std::int32_t rainclouds);

}  // namespace nimbus::arena
