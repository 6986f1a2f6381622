#pragma once
// The decision step: once per control cycle, turns the snapshot and the own predicted path into
// the one plan to follow: evade, else chase, else push after a slow bounce, else idle.
#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {

// A threat within horizon 500 (closest approach up to 600 ticks ahead) gives the evasive plan
// (direct, start snapshot.tick, the evasion's wind and ticks). Otherwise the chosen chase plan;
// when none, bouncePushPlan from snapshot.tick. own must hold the prediction from the snapshot's
// own state at its tick. The caller owns and releases the returned plan's chain.
Strategy decidePlan(float tickDrift, const WorldSnapshot& snapshot, const Trajectory& own);

}  // namespace nimbus
