#include "bot/plan/decide.hpp"

#include "bot/plan/bounce_push.hpp"
#include "bot/plan/evasion.hpp"
#include "bot/plan/target.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kThreatHorizon = 500;

}  // namespace

Strategy decidePlan(float tickDrift, const WorldSnapshot& snapshot, const Trajectory& own) {
    const Evasion e = forecastCollision(snapshot.own, snapshot, kThreatHorizon);
    if (e.ticks != 0) {
        Strategy evasive;
        evasive.setDirect(e.windX, e.windY, snapshot.tick, e.ticks);
        return evasive;
    }
    Strategy best = chooseTarget(snapshot, own, tickDrift);
    // A direct result is the idle plan: no chain to release.
    if (best.isDirect)
        best = bouncePushPlan(own, snapshot.tick);
    return best;
}

}  // namespace nimbus
