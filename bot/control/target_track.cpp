#include "bot/control/target_track.hpp"

#include <algorithm>
#include <limits>

#include "bot/plan/evasion.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {
namespace {

// Plan durations are a few hundred ticks; a span outside [0, 1000] is cut to it.
std::int32_t spanOf(const Strategy& plan) {
    return std::clamp(plan.duration, 0, 1000);
}

}  // namespace

TargetTrack::TargetTrack(const Strategy& plan)
    : firstTick_(plan.startTick),
      lastTick_(static_cast<std::int32_t>(std::min<std::int64_t>(
          std::int64_t{plan.startTick} + spanOf(plan), std::numeric_limits<std::int32_t>::max()))),
      path_(spanOf(plan) + 2) {
    path_.predict(firstTick_, lastTick_ - firstTick_ + 1, plan.targetState);
}

bool TargetTrack::lostIn(const WorldSnapshot& snapshot) const {
    if (snapshot.tick < firstTick_ || snapshot.tick > lastTick_)
        return false;
    return !anyCloudAt(path_.stateAt(snapshot.tick), snapshot);
}

}  // namespace nimbus
