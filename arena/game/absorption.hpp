#pragma once
// Absorption: a cloud whose centre lies strictly within the radius of a strictly heavier cloud is
// swallowed by it. Masses add, momentum is conserved, the swallower keeps its position. Equal
// masses never swallow each other.
#include <cstdint>
#include <vector>

#include "arena/game/cloud.hpp"
#include "bot/physics/swallow.hpp"

namespace nimbus::arena {

struct Swallow {
    std::int32_t by = 0;      // id of the swallowing cloud
    std::int32_t victim = 0;  // id of the swallowed cloud
};

// The contact test and the merge: bot/physics/swallow.hpp.
using nimbus::merge;
using nimbus::reaches;

// Resolves every swallow among the clouds, heaviest first (ties by id), again and again until
// none is left, so the result never depends on the container's order. Swallowed clouds are
// removed; the rest keep their relative order. Returns the swallows in the order they happened.
// Only clouds that reach another at the start take part as swallowers (found by a sweep over x);
// when none does, nothing else is done. Non-finite values or negative masses get the full pass.
std::vector<Swallow> resolveAbsorption(std::vector<Cloud>& clouds);

}  // namespace nimbus::arena
