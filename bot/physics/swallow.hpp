#pragma once
// The swallowing law, as the arena applies it and the bot's predictions follow it: a cloud whose
// centre lies strictly within the radius of a strictly heavier cloud is swallowed by it; masses
// add, momentum is conserved, the swallower keeps its position. Equal masses never swallow.
#include "bot/physics/cloud_state.hpp"
#include "bot/physics/numeric.hpp"

namespace nimbus {

// Whether big, of radius r (floatSqrt(big.mass), supplied by the caller), is strictly heavier
// than small and reaches its centre.
inline bool reachesWithRadius(const CloudState& big, double r, const CloudState& small) {
    if (!(big.mass > small.mass))
        return false;
    const double dx = static_cast<double>(small.x) - big.x;
    const double dy = static_cast<double>(small.y) - big.y;
    return dx * dx + dy * dy < r * r;
}

// Whether big's radius reaches small's centre and big is strictly heavier.
inline bool reaches(const CloudState& big, const CloudState& small) {
    return reachesWithRadius(big, floatSqrt(big.mass), small);
}

// Merges victim into eater: mass float(m1 + m2), velocity float((m1 v1 + m2 v2) / (m1 + m2)).
inline void merge(CloudState& eater, const CloudState& victim) {
    const double m1 = eater.mass;
    const double m2 = victim.mass;
    const double total = m1 + m2;
    eater.vx = static_cast<float>((m1 * eater.vx + m2 * victim.vx) / total);
    eater.vy = static_cast<float>((m1 * eater.vy + m2 * victim.vy) / total);
    eater.mass = static_cast<float>(total);
}

}  // namespace nimbus
