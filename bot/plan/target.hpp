#pragma once
// Target selection: the chase plan with the best expected gain per tick among the rainclouds
// lighter than the bot and the rivals lighter than it by a margin; raincloud plans must pass
// vetting.
#include <cstdint>

#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {

// Plans every candidate from tick snapshot.tick + tickDrift + 3 (truncated, saturating) and
// returns the first candidate with the highest score gain / duration above 0, or the idle plan
// (wind 0, start snapshot.tick, 10 ticks, direct) when none scores. Rainclouds are candidates
// when lighter than the own cloud; rivals when lighter by more than the heaviest such raincloud.
// A start tick before snapshot.tick or 500 or more ticks after it skips every candidate. The
// returned plan owns its follow-up chain; the caller releases it. Candidates whose score bound
// (bot/plan/catch_bound.hpp) cannot beat the best score found are not planned: the choice is
// the one that planning every candidate in order gives, to the bit.
Strategy chooseTarget(const WorldSnapshot& snapshot, const Trajectory& own, float tickDrift);

// True when the plan is safe: the own predicted state at the plan's action tick, with the
// action wind applied, faces no collision threat from the snapshot's clouds (as they are now)
// within horizon. Does not take over or release the plan's chain.
bool vetPlan(const Trajectory& own, const WorldSnapshot& snapshot, std::int32_t horizon,
             const Strategy& plan);

}  // namespace nimbus
