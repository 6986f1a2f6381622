// The score bound that lets target selection skip candidates: on seeded random scenarios no
// planned candidate scores above its bound, and the bound is tight enough to rule candidates out.
#include "bot/plan/catch_bound.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/plan_scenarios.hpp"
#include "bot/platform/saturate.hpp"

namespace nimbus {
namespace {

TEST(CatchBoundTest, NoPlannedScoreExceedsItsBound) {
    int planned = 0;
    int belowMass = 0;
    int zero = 0;
    for (std::uint64_t index = 0; index < 1500; ++index) {
        const scenarios::Scenario sc = scenarios::makeScenario(77, index);
        const WorldSnapshot& w = sc.snapshot;
        const std::int32_t start = platform::saturateToInt32(double(w.tick) + sc.tickDrift + 3.0);
        if (start < w.tick || std::int64_t{start} > std::int64_t{w.tick} + 498 ||
            std::int64_t{w.tick} + 499 > std::numeric_limits<std::int32_t>::max())
            continue;
        Trajectory own(1000);
        own.predict(w.tick, 500, w.own);
        const CatchBound bound(own, w.tick, start, 500);
        const auto check = [&](const CloudState& cloud, float reserve) {
            Trajectory track(1000);
            track.predict(w.tick, 500, cloud);
            Strategy plan;
            const PlanSummary s = plan.plan(start, own, track, reserve);
            plan.releaseFollowUps();
            const float score = static_cast<float>(double(s.gain) / s.duration);
            const float limit = bound.scoreBound(cloud, reserve);
            const float refined = bound.refinedBound(cloud, reserve, 0.0f);
            EXPECT_LE(score, bound.refinedBound(cloud, reserve, score)) << "scenario " << index;
            EXPECT_LE(score, refined) << "scenario " << index << " mass " << cloud.mass;
            EXPECT_LE(refined, limit) << "scenario " << index << " mass " << cloud.mass;
            ++planned;
            belowMass += limit < cloud.mass;
            zero += limit == 0.0f;
        };
        float rainReserve = 0.0f;
        for (const CloudState& c : w.rainclouds) {
            if (w.own.mass > c.mass) {
                rainReserve = std::max(rainReserve, c.mass);
                check(c, 0.0f);
            }
        }
        for (const CloudState& c : w.rivals) {
            if (w.own.mass > double(c.mass) + rainReserve)
                check(c, rainReserve);
        }
    }
    EXPECT_GT(planned, 5000);
    // The bound does its work: most candidates are bounded below their mass, many at 0.
    EXPECT_GT(belowMass, planned / 2);
    EXPECT_GT(zero, planned / 10);
}

}  // namespace
}  // namespace nimbus
