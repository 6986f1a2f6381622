#pragma once
// The plans of the strategies that simulate their paths (thrifty, keen): where the own cloud
// starts when the wind can act, and the plans made of a simulated path.
#include <cstdint>
#include <optional>

#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/strategy.hpp"
#include "bot/plan/thrifty/cloud_paths.hpp"
#include "bot/plan/thrifty/escape_wind.hpp"
#include "bot/plan/thrifty/path_sim.hpp"

namespace nimbus {

// Where a wind planned now acts: k0 ticks after the snapshot (drift + 3, within 1 .. 40, as the
// faithful strategy's chases), at tick t, from the own state `own` there.
struct PathStart {
    std::int32_t k0;
    std::int32_t t;
    CloudState own;
};

// The start of this cycle's wind on the own predicted path, or nothing when the own state there
// is not one to plan from (no mass, a value not finite).
std::optional<PathStart> pathStart(float tickDrift, const WorldSnapshot& snapshot,
                                   const Trajectory& own);

// No wind for 10 ticks from the snapshot's tick: the next decision comes then at the latest.
Strategy idlePlan(const WorldSnapshot& snapshot);

// The plan a decision ends with once its paths are simulated: when the best path scores above 0,
// a chase plan of the first cloud it swallows after `wind` (the control loop watches that cloud
// and plans again once it is caught; best must have a catch). Otherwise, when the free path
// meets a heavier cloud within rules.ticks of the wind, the escape wind (escape_wind.hpp) blown
// at at.t for one tick; otherwise, or when no wind helps, the idle plan.
Strategy pathPlan(const CloudPaths& paths, const PathStart& at, double score,
                  const PathOutcome& best, Wind wind, const PathOutcome& free,
                  const EscapeRules& rules, const WorldSnapshot& snapshot);

}  // namespace nimbus
