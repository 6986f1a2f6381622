#include "bot/plan/target.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "bot/physics/wind_law.hpp"
#include "bot/plan/catch_bound.hpp"
#include "bot/plan/evasion.hpp"
#include "bot/platform/saturate.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kTrackCapacity = 1000;
constexpr std::int32_t kTrackTicks = 500;
constexpr std::int32_t kIdleTicks = 10;

// One cloud that the bot could chase, with the reserve its plan keeps and its place in the
// order rainclouds (in list order), then rivals (in list order).
struct Candidate {
    const CloudState* cloud;
    float reserve;
    bool vetted;  // raincloud plans must pass vetting
    std::int32_t order;
};

// The candidates of a snapshot: rainclouds lighter than the own cloud, then rivals lighter than
// it by more than the heaviest such raincloud.
std::vector<Candidate> candidatesOf(const WorldSnapshot& snapshot) {
    std::vector<Candidate> list;
    float rainReserve = 0.0f;
    const float ownMass = snapshot.own.mass;
    for (const CloudState& cloud : snapshot.rainclouds) {
        if (!(ownMass > cloud.mass))
            continue;
        if (rainReserve < cloud.mass)
            rainReserve = cloud.mass;
        list.push_back({&cloud, 0.0f, true, static_cast<std::int32_t>(list.size())});
    }
    for (const CloudState& cloud : snapshot.rivals) {
        if (!(ownMass > double(cloud.mass) + rainReserve))
            continue;
        list.push_back({&cloud, rainReserve, false, static_cast<std::int32_t>(list.size())});
    }
    return list;
}

// The best plan so far, its score and its candidate's place in the order.
struct Selection {
    Strategy result;
    float bestScore = 0.0f;
    std::int32_t bestOrder = std::numeric_limits<std::int32_t>::max();

    // Whether a score at this place in the order would replace the best plan: a higher score,
    // or the same score earlier in the order (so the first of the highest wins).
    bool beats(float score, std::int32_t order) const {
        return score > bestScore || (score == bestScore && score > 0.0f && order < bestOrder);
    }

    // Keeps the candidate when it beats the best and accept() says so, else releases the
    // candidate's chain.
    template <typename Accept>
    void offer(Strategy& candidate, float score, std::int32_t order, Accept accept) {
        if (beats(score, order) && accept()) {
            bestScore = score;
            bestOrder = order;
            result.releaseFollowUps();
            result = candidate;
        } else {
            candidate.releaseFollowUps();
        }
    }
};

// Runs the chase planner on a fresh candidate against the cloud's path predicted into track;
// returns the candidate's score gain / duration.
float planCandidate(Strategy& candidate, const Trajectory& own, const Trajectory& track,
                    std::int32_t start, float reserve) {
    const PlanSummary summary = candidate.plan(start, own, track, reserve);
    return static_cast<float>(double(summary.gain) / summary.duration);
}

// Plans one candidate, offers it to the selection and vets it when that is needed.
void examine(Selection& best, const Candidate& c, const WorldSnapshot& snapshot,
             const Trajectory& own, const Trajectory& track, std::int32_t start) {
    Strategy candidate;
    const float score = planCandidate(candidate, own, track, start, c.reserve);
    best.offer(candidate, score, c.order,
               [&] { return !c.vetted || vetPlan(own, snapshot, candidate.duration, candidate); });
}

// Every candidate in order, each against a fresh buffer: the plain rule, for predicted windows
// that pass the int32 bound (where the slots of consecutive ticks jump) and starts on the last
// predicted tick (the planner then reads on past the prediction).
void chooseInOrder(Selection& best, const std::vector<Candidate>& candidates,
                   const WorldSnapshot& snapshot, const Trajectory& own, std::int32_t start) {
    for (const Candidate& c : candidates) {
        Trajectory track(kTrackCapacity);
        track.predict(snapshot.tick, kTrackTicks, *c.cloud);
        examine(best, c, snapshot, own, track, start);
    }
}

// The same choice with fewer plans: candidates in order of decreasing score bound, each bound
// refined just before its candidate would be planned, stopping once no bound left can beat the
// best score; one buffer reused for every target path. The planner reads a target path only
// between the start and the last predicted tick here, which a reused buffer holds exactly as a
// fresh one would.
void chooseByBound(Selection& best, const std::vector<Candidate>& candidates,
                   const WorldSnapshot& snapshot, const Trajectory& own, std::int32_t start) {
    const CatchBound bounds(own, snapshot.tick, start, kTrackTicks);
    struct Pending {
        float bound;
        bool refined;
        const Candidate* candidate;
    };
    // Highest bound on top; among equal bounds the earliest candidate.
    const auto below = [](const Pending& a, const Pending& b) {
        return a.bound < b.bound || (a.bound == b.bound && a.candidate->order > b.candidate->order);
    };
    std::vector<Pending> heap;
    heap.reserve(candidates.size());
    for (const Candidate& c : candidates)
        heap.push_back({bounds.scoreBound(*c.cloud, c.reserve), false, &c});
    std::make_heap(heap.begin(), heap.end(), below);

    std::optional<Trajectory> track;  // built when the first candidate is planned
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), below);
        Pending next = heap.back();
        heap.pop_back();
        const Candidate& c = *next.candidate;
        if (!best.beats(next.bound, c.order)) {
            if (next.bound < best.bestScore)
                break;  // no bound left is higher
            continue;
        }
        if (!next.refined) {
            next.bound = bounds.refinedBound(*c.cloud, c.reserve, best.bestScore);
            next.refined = true;
            heap.push_back(next);
            std::push_heap(heap.begin(), heap.end(), below);
            continue;
        }
        if (sameState(*c.cloud, CloudState{})) {
            // A fresh buffer already holds this state everywhere, which its prediction reuses.
            Trajectory fresh(kTrackCapacity);
            fresh.predict(snapshot.tick, kTrackTicks, *c.cloud);
            examine(best, c, snapshot, own, fresh, start);
            continue;
        }
        if (!track)
            track.emplace(kTrackCapacity);
        const std::int32_t slot = track->slotOf(snapshot.tick);
        track->states[static_cast<std::size_t>(slot)] = *c.cloud;
        track->advance(slot, kTrackTicks);
        examine(best, c, snapshot, own, *track, start);
    }
}

}  // namespace

Strategy chooseTarget(const WorldSnapshot& snapshot, const Trajectory& own, float tickDrift) {
    Selection best;
    best.result.setDirect(0.0f, 0.0f, snapshot.tick, kIdleTicks);

    // Plans start drift + 3 ticks after the snapshot; outside the predicted window nothing is
    // planned.
    const std::int32_t start = platform::saturateToInt32(double(snapshot.tick) + tickDrift + 3.0);
    const std::int64_t tick = snapshot.tick;
    if (start < tick || start >= tick + kTrackTicks)
        return best.result;

    const std::vector<Candidate> candidates = candidatesOf(snapshot);
    if (candidates.empty())
        return best.result;
    // The planner reads ticks start .. tick + 499 only; their slots follow one another unless
    // the last of them passes the int32 bound.
    const bool contiguous = tick + kTrackTicks - 1 <= std::numeric_limits<std::int32_t>::max();
    if (contiguous && start <= tick + kTrackTicks - 2)
        chooseByBound(best, candidates, snapshot, own, start);
    else
        chooseInOrder(best, candidates, snapshot, own, start);
    return best.result;
}

bool vetPlan(const Trajectory& own, const WorldSnapshot& snapshot, std::int32_t horizon,
             const Strategy& plan) {
    CloudState s = own.stateAt(plan.actionTick());
    const Wind wind = plan.actionWind();
    pushByWind(s, wind.x, wind.y, WindRounding::FloatSteps);
    return forecastCollision(s, snapshot, horizon).ticks == 0;
}

}  // namespace nimbus
