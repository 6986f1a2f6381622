#pragma once
// The chased cloud's predicted path during a plan's waits, from the plan's start tick to its end.
#include <cstdint>

#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"

namespace nimbus {

class Strategy;

class TargetTrack {
  public:
    // Predicts the target of a chase plan from its targetState at its startTick up to the
    // plan's end tick (duration + 1 states, duration + 2 slots).
    explicit TargetTrack(const Strategy& plan);

    // True when the track predicted the snapshot's tick and no cloud of the snapshot lies within
    // distance 1 of the predicted position. Ticks the track did not predict never count as lost.
    bool lostIn(const WorldSnapshot& snapshot) const;

    std::int32_t firstTick() const { return firstTick_; }
    std::int32_t lastTick() const { return lastTick_; }

  private:
    std::int32_t firstTick_;
    std::int32_t lastTick_;
    Trajectory path_;
};

}  // namespace nimbus
