// The watching waits of a control cycle: wait in steps, refresh the world after each step, and
// give up the plan when a heavier cloud closes in or the chased cloud is not where it should be.
#include <algorithm>

#include "bot/control/bot.hpp"
#include "bot/control/target_track.hpp"
#include "bot/net/state_request.hpp"
#include "bot/plan/evasion.hpp"

namespace nimbus {
namespace {

constexpr std::int32_t kStepMs = 110;      // one intermediate step, and the shortest last one
constexpr std::int32_t kLastStepMs = 220;  // at most this much left: the step is the last

}  // namespace

bool Bot::sleepStep(std::int32_t reading) {
    const std::int32_t remaining = msUntil(reading);
    if (remaining > kLastStepMs) {
        clock_.sleep(kStepMs);
        return false;
    }
    clock_.sleep(remaining > kStepMs ? remaining : kStepMs);
    return true;
}

void Bot::refreshStep(WorldSnapshot& snapshot) {
    tickClock.stateClock = clock_.now();
    refreshState(link, snapshot);
    tickClock.recordState(snapshot.tick);
}

bool Bot::threatBefore(std::int32_t tick, const WorldSnapshot& snapshot) {
    const std::int64_t ticksLeft = std::int64_t{tick} - tickClock.tickAtClock(clock_.now());
    const auto horizon =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(ticksLeft, INT32_MIN, INT32_MAX));
    return forecastCollision(snapshot.own, snapshot, horizon).ticks > 0;
}

bool Bot::waitForWindTick(WorldSnapshot& snapshot, std::int32_t windTick,
                          const CloudState& ownAtWind, const TargetTrack* track) {
    for (;;) {
        tickClock.plannedState = ownAtWind;
        tickClock.plannedTick = windTick;
        tickClock.windSkipped = false;
        const bool last = sleepStep(tickClock.clockAtTick(windTick, true));
        refreshStep(snapshot);
        // A dead link brings no new tick: the wait would never end.
        if (!link.enabled())
            return false;
        if (threatBefore(windTick, snapshot))
            return true;
        if (track != nullptr && track->lostIn(snapshot))
            return true;
        if (last)
            return false;
    }
}

bool Bot::waitForPlanEnd(WorldSnapshot& snapshot, std::int32_t endTick, const TargetTrack* track) {
    for (;;) {
        if (threatBefore(endTick, snapshot))
            return true;
        if (track != nullptr && track->lostIn(snapshot))
            return true;
        const bool last = sleepStep(tickClock.clockAtTick(endTick, false));
        refreshStep(snapshot);
        if (!link.enabled() || last)
            return false;
    }
}

}  // namespace nimbus
