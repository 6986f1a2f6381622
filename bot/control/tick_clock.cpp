#include "bot/control/tick_clock.hpp"

#include "bot/platform/saturate.hpp"

namespace nimbus {

using platform::saturateToInt32;

void TickClock::recordState(std::int32_t tick) {
    // Differences in 64 bits: a server may send any int32 tick.
    const std::int64_t ticks = std::int64_t{tick} - lastTick;
    if (lastClock > 0 && ticks > 0) {
        const double ms = static_cast<double>(std::int64_t{stateClock} - lastClock);
        const float sample = static_cast<float>(ms / static_cast<double>(ticks));
        msPerTick =
            static_cast<float>((sample + (averageWindow - 1.0) * msPerTick) / averageWindow);
    }
    lastTick = tick;
    lastClock = stateClock;
}

std::int32_t TickClock::calibrate(std::int32_t tick, const CloudState& observed) {
    recordState(tick);
    if (windSkipped)
        return plannedTick;

    const double elapsed = static_cast<double>(std::int64_t{tick} - plannedTick);
    auto axisOffset = [elapsed](float observedP, float observedV, float plannedP, float plannedV) {
        if (observedV == plannedV)
            return std::int32_t{0};
        const double moved = (double{observedP} - plannedP) - elapsed * (observedV * 0.1);
        return saturateToInt32(moved * 10.0 / (double{plannedV} - observedV) + 0.5);
    };
    const std::int32_t offsetX =
        axisOffset(observed.x, observed.vx, plannedState.x, plannedState.vx);
    const std::int32_t offsetY =
        axisOffset(observed.y, observed.vy, plannedState.y, plannedState.vy);
    if (offsetX != offsetY)
        return plannedTick;

    tickDrift = static_cast<float>(tickDrift + static_cast<double>(offsetX) / driftDivisor);
    return saturateToInt32(static_cast<double>(plannedTick) + offsetX);
}

std::int32_t TickClock::clockAtTick(std::int32_t tick, bool withDrift) const {
    const double ticks = static_cast<double>(std::int64_t{tick} - lastTick);
    const double drift = withDrift ? tickDrift : 0.0;
    return saturateToInt32((ticks - drift) * msPerTick + lastClock);
}

std::int32_t TickClock::tickAtClock(std::int32_t reading) const {
    const double ms = static_cast<double>(std::int64_t{reading} - lastClock);
    return saturateToInt32(ms / msPerTick + lastTick);
}

}  // namespace nimbus
