#pragma once
// The wind law: a wind (wx, wy) of strength s = sqrt(wx^2 + wy^2) changes its blower's velocity by
// (wx, wy) x 5 / sqrt(mass), taken before paying, and costs s mass. Refused when a component is
// not finite or s exceeds half the blower's mass.
#include <string>

#include "bot/physics/cloud_state.hpp"

namespace nimbus::arena {

inline constexpr double kWindPush = 5.0;  // velocity change per unit of wind, times 1/sqrt(mass)
inline constexpr double kMaxWindShare = 0.5;  // the strongest wind allowed, as a share of the mass

struct WindVerdict {
    bool accepted = false;
    std::string reason;  // empty when accepted; a short phrase for the ERROR reply otherwise
};

// The wind's strength, sqrt(wx^2 + wy^2) in double precision, rounded to float.
float windStrength(float wx, float wy);

// Whether a cloud of this mass may blow the wind; nothing changes.
WindVerdict checkWind(float mass, float wx, float wy);

// Checks the wind and, when accepted, applies it to c: velocity change, then the cost.
WindVerdict applyWind(CloudState& c, float wx, float wy);

}  // namespace nimbus::arena
