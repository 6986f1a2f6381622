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
    const float r = floatSqrt(ownState.mass);

    SlotCursor ownAt(own, t);
    SlotCursor targetAt(target, t);
    const CostPreTest preTest(r);
    double bestRate = double(gain) / duration;  // gain / duration of the best catch so far
    float px = 0.0f;
    float py = 0.0f;
    std::int32_t n = 0;

    // Chase search: ends at the first change of sign of the own velocity (the search below then
    // finds the bounce at once) or at the first affordable tick that does not improve the rate.
    for (;;) {
        ++n;
        ownAt.next();
        targetAt.next();
        if (ownAt.done() || targetAt.done())
            return summary();
        const CloudState& s = ownAt.state();
        if (velocityReversed(s, px, py))
            break;
        px = s.vx;
        py = s.vy;
        const CloudState& T = targetAt.state();
        const float dx = static_cast<float>(double(T.x) - s.x);
        const float dy = static_cast<float>(double(T.y) - s.y);
        const float q = static_cast<float>(double(dx) * dx + double(dy) * dy);
        const double shiftSum = chaseShiftSum(n);
        const double cap = limit < T.mass ? double(limit) : double(T.mass);
        if (preTest.unaffordable(q, cap, shiftSum))
            continue;
        const float d = floatSqrt(q);
        const float c = rimCatchCost(r, d, shiftSum);
        if (c > limit || c > T.mass)
            continue;
        const double catchGain = double(T.mass) - c;
        if (!rateBelow(bestRate, catchGain, n))
            break;
        gain = static_cast<float>(catchGain);
        duration = n;
        bestRate = double(gain) / duration;
        if (c < 1.0) {
            windX = 0.0f;
            windY = 0.0f;
        } else {
            const float ux = static_cast<float>(dx / double(d));
            const float uy = static_cast<float>(dy / double(d));
            windX = static_cast<float>(double(ux) * c);
            windY = static_cast<float>(double(c) * uy);
        }
    }

    // Bounce search: the first tick from n on whose own velocity opposes the reference.
    std::int32_t m = n;
    while (!velocityReversed(ownAt.state(), px, py)) {
        ++m;
        ownAt.next();
        targetAt.next();
        if (ownAt.done() || targetAt.done())
            return summary();
    }

    // The follow-up stage starts three ticks after the bounce.
    for (int i = 0; i < 3; ++i) {
        ++m;
        ownAt.next();
        targetAt.next();
        if (ownAt.done() || targetAt.done())
            return summary();
    }
    const std::int32_t k = m;
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
