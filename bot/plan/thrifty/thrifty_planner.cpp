#include "bot/plan/thrifty/thrifty_planner.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "bot/plan/thrifty/catch_options.hpp"
#include "bot/plan/thrifty/cloud_paths.hpp"
#include "bot/plan/thrifty/escape_wind.hpp"
#include "bot/plan/thrifty/path_plans.hpp"
#include "bot/plan/thrifty/path_sim.hpp"

namespace nimbus {

namespace {

// Ticks of every cloud's free path looked at (a decision's time grows with them).
constexpr std::int32_t kHorizon = 400;
// Of a crowded arena, the clouds nearest to the own cloud are followed.
constexpr std::int32_t kMostClouds = 160;
// The catches: see CatchRules. A catch counts 30 ticks more than it takes, and mass blown away
// counts 0.8 of mass won: in a race for the rainclouds a cloud left is a cloud a rival takes.
constexpr CatchRules kCatchRules{30.0, 0.8, 0.5, 0.4, false};
// The best cheapest catches simulated in full.
constexpr std::size_t kSimulated = 6;
// A heavier raincloud is too close within its radius plus this share of the own radius; a
// heavier rival, which can steer at the own cloud, within its radius plus the own radius.
constexpr double kRainMargin = 0.3;
constexpr double kRivalMargin = 1.0;
// A danger further ahead than this is not acted on: the clouds will have moved otherwise.
constexpr std::int32_t kThreatTicks = 200;

// A path the own cloud can take: the wind that starts it and what the simulation says follows.
struct Choice {
    double score = -std::numeric_limits<double>::infinity();
    float windX = 0.0f;
    float windY = 0.0f;
    PathOutcome outcome;
};

class ThriftyPlanner final : public Planner {
  public:
    Strategy decide(float tickDrift, const WorldSnapshot& snapshot, const Trajectory& own) override;

  private:
    // The net mass won per tick along a simulated path: what it swallows (rivals not counted,
    // they steer away) less the wind, over the ticks to its last catch and the overhead.
    static double scoreOf(const PathOutcome& o, std::int32_t k0) {
        if (o.catches == 0)
            return -std::numeric_limits<double>::infinity();
        return (o.value - kCatchRules.windWeight * o.spent) /
               ((o.lastCatch - k0) + kCatchRules.overheadTicks);
    }
    static bool unsafe(const PathOutcome& o, std::int32_t k0) {
        return o.danger >= 0 && o.danger - k0 <= kThreatTicks;
    }

    CloudPaths paths_;  // kept from one decision to the next for its storage only
};

Strategy ThriftyPlanner::decide(float tickDrift, const WorldSnapshot& snapshot,
                                const Trajectory& own) {
    const std::optional<PathStart> at = pathStart(tickDrift, snapshot, own);
    if (!at)
        return idlePlan(snapshot);  // nothing sensible to plan from
    const std::int32_t k0 = at->k0;
    const std::int32_t t = at->t;
    const CloudState& start = at->own;
    paths_.predict(snapshot, kHorizon, kMostClouds);
    const double r = std::sqrt(double(start.mass));
    const auto rainMargin = static_cast<float>(kRainMargin * r);
    PathSimulator sim(paths_);
    sim.rivalWeight = 0.0;
    sim.rivalDangerMargin = static_cast<float>(kRivalMargin * r);

    // The free path, then a wind towards each of the best cheapest catches: the best path that
    // stays clear of heavier clouds.
    Choice best;
    const PathOutcome free = sim.run(start, k0, 0.0f, 0.0f, kHorizon, rainMargin);
    if (!unsafe(free, k0) && free.catches > 0) {
        best.score = scoreOf(free, k0);
        best.outcome = free;
    }
    for (const CatchOption& o :
         cheapestCatches(paths_, own, start, t, k0, kCatchRules, kSimulated)) {
        if (o.windX == 0.0f && o.windY == 0.0f)
            continue;  // the free path, already scored
        const PathOutcome out = sim.run(start, k0, o.windX, o.windY, kHorizon, rainMargin);
        if (unsafe(out, k0) || out.catches == 0)
            continue;
        const double score = scoreOf(out, k0);
        if (score > best.score) {
            best.score = score;
            best.windX = o.windX;
            best.windY = o.windY;
            best.outcome = out;
        }
    }
    const EscapeRules escape{kThreatTicks, kCatchRules.maxWindShare * start.mass, rainMargin,
                             sim.rivalDangerMargin};
    return pathPlan(paths_, *at, best.score, best.outcome, Wind{best.windX, best.windY}, free,
                    escape, snapshot);
}

}  // namespace

std::unique_ptr<Planner> makeThriftyPlanner() {
    return std::make_unique<ThriftyPlanner>();
}

}  // namespace nimbus
