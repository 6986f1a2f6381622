#include "bot/plan/bounce_push.hpp"

#include "bot/physics/numeric.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kMaxSteps = 1000;
constexpr std::int32_t kIdleTicks = 10;

}  // namespace

Strategy bouncePushPlan(const Trajectory& own, std::int32_t t0) {
    Strategy plan;
    plan.setDirect(0.0f, 0.0f, t0, kIdleTicks);

    std::int32_t i = own.slotOf(t0);
    const double vx0 = own.states[i].vx;
    const double vy0 = own.states[i].vy;
    if (i == own.lastIndex)
        return plan;

    std::int32_t steps = 0;
    bool onX = false;
    for (;;) {
        if (steps >= kMaxSteps)
            return plan;
        i = i + 1 == own.capacity ? 0 : i + 1;
        ++steps;
        const CloudState& s = own.states[i];
        if (vx0 * s.vx < 0.0) {
            onX = true;
            break;
        }
        if (vy0 * s.vy < 0.0)
            break;
        if (i == own.lastIndex)
            return plan;
    }

    const CloudState& s = own.states[i];
    const float speed = floatSqrt(static_cast<float>(double(s.vx) * s.vx + double(s.vy) * s.vy));
    if (0.5 * floatSqrt(s.mass) < speed)
        return plan;

    const float along = onX ? s.vx : s.vy;
    const double sign = along > 0.0f ? 1.0 : -1.0;
    const float push = static_cast<float>(sign * s.mass * 0.25);
    plan.setDirect(onX ? push : 0.0f, onX ? 0.0f : push, tickAfter(t0, steps), 1);
    return plan;
}

}  // namespace nimbus
