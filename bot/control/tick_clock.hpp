#pragma once
// The bot's estimate of how its clock maps to server ticks: a moving average of milliseconds
// per tick, learned from the clock readings taken before each state request, and a drift in
// ticks, learned after each wind from the tick at which the wind was seen to act.
#include <cstdint>

#include "bot/physics/cloud_state.hpp"

namespace nimbus {

struct TickClock {
    float driftDivisor = 20.0f;    // an accepted wind offset is divided by this into the drift
    float averageWindow = 8.0f;    // a new sample weighs 1/8 in the moving average
    float msPerTick = 16.0f;       // moving average of clock milliseconds per server tick
    float tickDrift = 0.0f;        // winds act this many ticks late: the wind wait ends earlier
    CloudState plannedState;       // own predicted state at plannedTick, before the wind
    std::int32_t plannedTick = 0;  // tick at which the cycle's wind is due
    std::int32_t lastClock = 0;    // reading before the latest state request; 0 = none yet
    std::int32_t lastTick = 0;     // tick of the latest state reply
    std::int32_t stateClock = 0;   // reading taken just before the request under way
    bool windSkipped = false;      // the cycle's wind was zero and nothing was sent

    // Records a state reply of the given tick read at stateClock. A reply whose tick is newer
    // than lastTick adds a sample to msPerTick; one with the same or an older tick adds none.
    // lastTick and lastClock always move to this reply.
    void recordState(std::int32_t tick);

    // recordState, then estimates from the observed own state the tick at which the cycle's
    // wind acted; when both axes agree, tickDrift grows by offset / driftDivisor. Returns the
    // estimated tick (plannedTick when the wind was skipped or the axes disagree).
    std::int32_t calibrate(std::int32_t tick, const CloudState& observed);

    // The clock reading at which the server should reach tick, withDrift ending tickDrift
    // ticks earlier. Saturates to the int32 range.
    std::int32_t clockAtTick(std::int32_t tick, bool withDrift) const;

    // The tick the server should have reached at the clock reading. Saturates to int32.
    std::int32_t tickAtClock(std::int32_t reading) const;
};

}  // namespace nimbus
