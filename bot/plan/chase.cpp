// The chase planner: Strategy::plan. Scans the ticks after the start tick for the catch with the
// best mass gain per tick, then plans a follow-up stage three ticks after the own path's next
// wall bounce and keeps it when waiting for it gains more per tick.
#include "bot/physics/motion.hpp"
#include "bot/physics/numeric.hpp"
#include "bot/physics/wind_law.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {

namespace {

// Walks one trajectory slot by slot from a start tick; done() when the slot reached is the
// trajectory's last computed one (whose state is not examined).
class SlotCursor {
  public:
    SlotCursor(const Trajectory& track, std::int32_t tick)
        : track_(track), slot_(track.slotOf(tick)) {}
    void next() { slot_ = slot_ + 1 == track_.capacity ? 0 : slot_ + 1; }
    bool done() const { return slot_ == track_.lastIndex; }
    const CloudState& state() const { return track_.states[slot_]; }

  private:
    const Trajectory& track_;
    std::int32_t slot_;
};

// Both paths walked together from the start tick: n ticks after it, with the own velocity last
// taken as the reference for a reversal.
struct PathScan {
    SlotCursor own;
    SlotCursor target;
    std::int32_t n = 0;
    float px = 0.0f;
    float py = 0.0f;

    // One tick further; false when either path has no computed state left.
    bool step() {
        ++n;
        own.next();
        target.next();
        return !own.done() && !target.done();
    }
};

// The cost test of one tick without its square root where the squared distance q = dx² + dy²
// (as the planner rounds it) already settles it: true when the cost of a catch at that distance
// would exceed cap, the smaller of the wind limit and the target's mass. False when it cannot
// tell, so the full test runs. The margins dwarf every rounding of the exact cost formula.
class CostPreTest {
  public:
    explicit CostPreTest(float radius) : r_(radius), usable_(radius > 0.0f && radius < 1e15f) {}

    bool unaffordable(double q, double cap, double shiftSum) const {
        if (!usable_ || !(cap >= 0.0 && cap < 1e30))
            return cap < 0.0;  // every cost is at least 0; NaN caps go the full way
        const double reach = certainCatchReach(r_, cap, shiftSum);
        return q > reach * reach * (1.0 + 1e-6);
    }

  private:
    double r_;
    bool usable_;
};

// Whether bestRate < gain / n, decided by cross-multiplication where the products are far enough
// apart to settle the comparison of the rounded quotients; otherwise by that quotient. Both
// rates are non-negative here.
bool rateBelow(double bestRate, double gain, std::int32_t n) {
    const double scaled = bestRate * n;
    if (scaled < gain * (1.0 - 1e-12))
        return true;
    if (scaled > gain * (1.0 + 1e-12))
        return false;
    return bestRate < gain / n;
}

// Chase search: the catch with the best gain per tick, written into plan (gain, duration, wind).
// Ends at the first change of sign of the own velocity (the bounce search then finds it at once)
// or at the first affordable tick that does not improve the rate; false when a path ends first.
bool chaseSearch(Strategy& plan, PathScan& scan, float limit, float r) {
    const CostPreTest preTest(r);
    double bestRate = double(plan.gain) / plan.duration;  // of the best catch so far
    for (;;) {
        if (!scan.step())
            return false;
        const CloudState& s = scan.own.state();
        if (velocityReversed(s, scan.px, scan.py))
            return true;
        scan.px = s.vx;
        scan.py = s.vy;
        const CloudState& T = scan.target.state();
        const float dx = static_cast<float>(double(T.x) - s.x);
        const float dy = static_cast<float>(double(T.y) - s.y);
        const float q = static_cast<float>(double(dx) * dx + double(dy) * dy);
        const double shiftSum = chaseShiftSum(scan.n);
        const double cap = limit < T.mass ? double(limit) : double(T.mass);
        if (preTest.unaffordable(q, cap, shiftSum))
            continue;
        const float d = floatSqrt(q);
        const float c = rimCatchCost(r, d, shiftSum);
        if (c > limit || c > T.mass)
            continue;
        const double catchGain = double(T.mass) - c;
        if (!rateBelow(bestRate, catchGain, scan.n))
            return true;
        plan.gain = static_cast<float>(catchGain);
        plan.duration = scan.n;
        bestRate = double(plan.gain) / plan.duration;
        if (c < 1.0) {
            plan.windX = 0.0f;
            plan.windY = 0.0f;
        } else {
            const float ux = static_cast<float>(dx / double(d));
            const float uy = static_cast<float>(dy / double(d));
            plan.windX = static_cast<float>(double(ux) * c);
            plan.windY = static_cast<float>(double(c) * uy);
        }
    }
}

// Bounce search, from where the chase search stopped: on to the first tick whose own velocity
// opposes the reference, then three ticks more, where the follow-up stage starts. False when a
// path ends first.
bool toFollowUpStart(PathScan& scan) {
    while (!velocityReversed(scan.own.state(), scan.px, scan.py)) {
        if (!scan.step())
            return false;
    }
    for (int i = 0; i < 3; ++i) {
        if (!scan.step())
            return false;
    }
    return true;
}

}  // namespace

PlanSummary Strategy::plan(std::int32_t t, const Trajectory& own, const Trajectory& target,
                           float reserve) {
    startTick = t;
    ownState = own.stateAt(t);
    targetState = target.stateAt(t);
    gain = 0.0f;
    windX = 0.0f;
    windY = 0.0f;
    duration = 5;
    reserved = 0;
    depth = 0;
    const auto summary = [this] { return PlanSummary{duration, gain, reserved, depth}; };

    // The wind may neither leave the bot less than reserve + 1 heavier than the target nor cost
    // more than half the bot's mass less 1.
    const double mass = ownState.mass;
    float limit = static_cast<float>(mass - targetState.mass - reserve - 1.0);
    if (limit > mass * 0.5 - 1.0)
        limit = static_cast<float>(mass * 0.5 - 1.0);

    PathScan scan{SlotCursor(own, t), SlotCursor(target, t)};
    if (!chaseSearch(*this, scan, limit, floatSqrt(ownState.mass)) || !toFollowUpStart(scan))
        return summary();
    const std::int32_t k = scan.n;
    followUp = new Strategy();
    const PlanSummary next = followUp->plan(tickAfter(t, k), own, target, reserve);
    if (double(gain) / duration < double(next.gain) / (next.duration + k)) {
        duration = next.duration + k;
        gain = next.gain;
        depth = next.depth + 1;
    } else {
        followUp->releaseFollowUps();
        delete followUp;
        followUp = nullptr;
    }
    return summary();
}

}  // namespace nimbus
