#include "bot/plan/target.hpp"

#include "bot/physics/numeric.hpp"
#include "bot/plan/evasion.hpp"
#include "bot/platform/saturate.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kTrackCapacity = 1000;
constexpr std::int32_t kTrackTicks = 500;
constexpr std::int32_t kIdleTicks = 10;

// The best plan so far and its score; a better candidate replaces it and takes over its chain.
struct Selection {
    Strategy result;
    float bestScore = 0.0f;

    // Keeps the candidate when accept() says so, else releases the candidate's chain.
    template <typename Accept>
    void offer(Strategy& candidate, float score, Accept accept) {
        if (score > bestScore && accept()) {
            bestScore = score;
            result.releaseFollowUps();
            result = candidate;
        } else {
            candidate.releaseFollowUps();
        }
    }
};

// Runs the chase planner on a fresh candidate against the cloud's predicted path; returns the
// candidate's score gain / duration.
float planCandidate(Strategy& candidate, const WorldSnapshot& snapshot, const Trajectory& own,
                    const CloudState& cloud, std::int32_t start, float reserve) {
    Trajectory track(kTrackCapacity);
    track.predict(snapshot.tick, kTrackTicks, cloud);
    const PlanSummary summary = candidate.plan(start, own, track, reserve);
    return static_cast<float>(double(summary.gain) / summary.duration);
}

}  // namespace

Strategy chooseTarget(const WorldSnapshot& snapshot, const Trajectory& own, float tickDrift) {
    Selection best;
    best.result.setDirect(0.0f, 0.0f, snapshot.tick, kIdleTicks);
    float rainReserve = 0.0f;

    // Plans start drift + 3 ticks after the snapshot; outside the predicted window nothing is
    // planned.
    const std::int32_t start = platform::saturateToInt32(double(snapshot.tick) + tickDrift + 3.0);
    const bool startPredicted =
        start >= snapshot.tick && std::int64_t{start} < std::int64_t{snapshot.tick} + kTrackTicks;
    const float ownMass = snapshot.own.mass;

    for (const CloudState& cloud : snapshot.rainclouds) {
        if (!(ownMass > cloud.mass))
            continue;
        if (rainReserve < cloud.mass)
            rainReserve = cloud.mass;
        if (!startPredicted)
            continue;
        Strategy candidate;
        const float score = planCandidate(candidate, snapshot, own, cloud, start, 0.0f);
        best.offer(candidate, score,
                   [&] { return vetPlan(own, snapshot, candidate.duration, candidate); });
    }

    for (const CloudState& cloud : snapshot.rivals) {
        if (!(ownMass > double(cloud.mass) + rainReserve))
            continue;
        if (!startPredicted)
            continue;
        Strategy candidate;
        const float score = planCandidate(candidate, snapshot, own, cloud, start, rainReserve);
        best.offer(candidate, score, [] { return true; });
    }
    return best.result;
}

bool vetPlan(const Trajectory& own, const WorldSnapshot& snapshot, std::int32_t horizon,
             const Strategy& plan) {
    CloudState s = own.stateAt(plan.actionTick());
    const Wind wind = plan.actionWind();
    // The wind law: a wind w changes the velocity by 5 w / sqrt(mass).
    const float f = static_cast<float>(5.0 / floatSqrt(s.mass));
    s.vx = static_cast<float>(s.vx + double(static_cast<float>(double(f) * wind.x)));
    s.vy = static_cast<float>(s.vy + double(static_cast<float>(double(f) * wind.y)));
    return forecastCollision(s, snapshot, horizon).ticks == 0;
}

}  // namespace nimbus
