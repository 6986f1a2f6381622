#include "bot/plan/thrifty/path_plans.hpp"

#include <algorithm>
#include <cmath>

#include "bot/platform/saturate.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kIdleTicks = 10;

Strategy firstCatchPlan(const CloudPaths& paths, const PathStart& at, const PathOutcome& outcome,
                        Wind wind) {
    Strategy plan;
    plan.startTick = at.t;
    plan.ownState = at.own;
    plan.targetState = paths.at(outcome.firstCloud, at.k0);
    plan.duration = outcome.firstCatch - at.k0;
    plan.gain = static_cast<float>(outcome.gain - outcome.spent);
    plan.windX = wind.x;
    plan.windY = wind.y;
    return plan;
}

}  // namespace

std::optional<PathStart> pathStart(float tickDrift, const WorldSnapshot& snapshot,
                                   const Trajectory& own) {
    const std::int32_t k0 = std::clamp(platform::saturateToInt32(double(tickDrift) + 3.0), 1, 40);
    const std::int32_t t = tickAfter(snapshot.tick, k0);
    const CloudState start = own.stateAt(t);
    if (!(start.mass > 0.0f && std::isfinite(start.mass) && std::isfinite(start.x) &&
          std::isfinite(start.y) && std::isfinite(start.vx) && std::isfinite(start.vy)))
        return std::nullopt;
    return PathStart{k0, t, start};
}

Strategy idlePlan(const WorldSnapshot& snapshot) {
    Strategy idle;
    idle.setDirect(0.0f, 0.0f, snapshot.tick, kIdleTicks);
    return idle;
}

Strategy pathPlan(const CloudPaths& paths, const PathStart& at, double score,
                  const PathOutcome& best, Wind wind, const PathOutcome& free,
                  const EscapeRules& rules, const WorldSnapshot& snapshot) {
    if (score > 0.0)
        return firstCatchPlan(paths, at, best, wind);
    if (free.danger < 0 || free.danger - at.k0 > rules.ticks)
        return idlePlan(snapshot);
    const std::optional<Wind> escape = escapeWind(paths, at.own, at.k0, free.danger, rules);
    if (!escape)
        return idlePlan(snapshot);
    Strategy plan;
    plan.setDirect(escape->x, escape->y, at.t, 1);
    return plan;
}

}  // namespace nimbus
