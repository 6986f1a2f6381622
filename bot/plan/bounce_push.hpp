#pragma once
// The push after a slow wall bounce: with nothing to chase, one puff at the own path's first
// bounce pushes the cloud on in its new direction.
#include <cstdint>

#include "bot/physics/trajectory.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {

// Follows the own trajectory from slot of t0 (at most 1000 steps, never past lastIndex) to the
// first state whose vx, then vy, has the opposite sign to the velocity at t0. If the speed there
// is at most 0.5 x radius, returns a direct plan of wind sign x 0.25 x mass on the bounce axis
// (sign of the new velocity component), start t0 + steps, 1 tick. Otherwise, or without a
// bounce, the idle plan: wind 0, start t0, 10 ticks. The result never has a follow-up.
Strategy bouncePushPlan(const Trajectory& own, std::int32_t t0);

}  // namespace nimbus
