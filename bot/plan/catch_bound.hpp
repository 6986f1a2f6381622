#pragma once
// An upper bound on the score (gain / duration) that the chase planner can reach against a
// cloud, found without predicting the cloud's path: from the exact own path and the furthest the
// cloud can move by each tick, the earliest tick at which a catch can be affordable; the score is
// at most the cloud's mass divided by that tick offset. Target selection plans the candidates
// with the best bounds first and stops when no bound left can beat the best score.
#include <cstdint>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/trajectory.hpp"

namespace nimbus {

class CatchBound {
  public:
    // For plans from tick start over the own path, against clouds whose paths are predicted from
    // tick for window ticks, with start in tick .. tick + window - 2 and no tick up to
    // tick + window past the int32 bound (the own slots of consecutive ticks are consecutive).
    CatchBound(const Trajectory& own, std::int32_t tick, std::int32_t start, std::int32_t window);

    // A value that float(gain / duration) of the summary of Strategy::plan(start, own, path,
    // reserve) does not exceed, where path is the cloud's predicted path (from tick, window
    // ticks). 0 when no catch can be affordable; +infinity where it cannot tell (non-finite
    // values, a cloud starting outside the arena, an own path whose mass varies).
    float scoreBound(const CloudState& cloud, float reserve) const;

  private:
    // Bounding box of the own positions over a block of consecutive tick offsets.
    struct Block {
        double minX, maxX, minY, maxY;
        bool unknown;  // a NaN position: the block is never ruled out
    };

    double threshold(double cap, std::int32_t n) const;
    bool ruledOut(double distX, double distY, double travelX, double travelY, double cap,
                  std::int32_t n) const;

    std::int32_t lead_;  // start - tick: ticks the cloud moves before the plan starts
    std::int32_t last_;  // offset of the last predicted tick: the planner examines fewer
    float ownMass_;
    double radius_;
    bool usable_;
    std::vector<double> ownX_, ownY_;  // own position at start + n, n = 0 .. last_
    std::vector<double> travel_;       // furthest move per unit of speed in k ticks
    std::vector<Block> blocks_;
};

}  // namespace nimbus
