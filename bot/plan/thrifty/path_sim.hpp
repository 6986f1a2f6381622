#pragma once
// What one wind would lead to: the own cloud's exact path after the wind (motion model with wall
// bounces) against the free paths of every other cloud, with the clouds it would swallow on the
// way and the first heavier cloud that would come too close.
#include <cstdint>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "bot/plan/thrifty/cloud_paths.hpp"

namespace nimbus {

struct PathOutcome {
    double gain = 0.0;   // mass swallowed on the way
    double value = 0.0;  // the same with each rival's mass weighted by rivalWeight
    double spent = 0.0;  // the wind's strength (its cost in mass)
    std::int32_t catches = 0;
    std::int32_t firstCatch = -1;  // tick offset of the first swallow, -1 for none
    std::int32_t firstCloud = -1;  // its cloud in the paths
    std::int32_t lastCatch = -1;   // tick offset of the last swallow
    std::int32_t danger = -1;      // tick offset at which a heavier cloud came too close; -1 none
    CloudState end;                // the own state where the simulation stopped
};

class PathSimulator {
  public:
    explicit PathSimulator(const CloudPaths& paths) : paths_(paths) {}

    // How much a rival's mass counts in PathOutcome::value (a rival may steer away).
    double rivalWeight = 1.0;
    // The danger margin for heavier rivals, which can steer at the own cloud (rainclouds get the
    // dangerMargin of run()).
    float rivalDangerMargin = 0.0f;
    // When not empty, only these clouds of the paths are looked at.
    std::vector<std::int32_t> only;
    // Clouds the own cloud has already swallowed before the start: not looked at.
    std::vector<std::int32_t> gone;

    // Blows (wx, wy) at own, the own state k0 ticks after the snapshot (its velocity changes by
    // the wind law with the mass before paying, then the strength is paid), and moves it up to
    // offset `until` (at most the paths' horizon). A lighter cloud whose centre comes strictly
    // within the own radius is swallowed: masses add, momentum is kept. A heavier cloud whose
    // radius plus dangerMargin reaches the own centre ends the simulation as a danger. With
    // gains false only dangers are looked for.
    PathOutcome run(CloudState own, std::int32_t k0, float wx, float wy, std::int32_t until,
                    float dangerMargin, bool gains = true);

    // The clouds the last run swallowed, in order.
    const std::vector<std::int32_t>& swallowed() const { return swallowed_; }

  private:
    // How far beyond its radius a heavier cloud c is too close.
    double marginOf(std::int32_t c, float dangerMargin) const;
    // Fills near_ with the clouds not eaten that can come within reach of `own` (of radius
    // ownRadius) from offset k to blockEnd, both in one block of the paths.
    void collectNear(const CloudState& own, double ownRadius, std::int32_t k, std::int32_t blockEnd,
                     double heaviestReach, float dangerMargin);
    // The own cloud (of radius r this tick) against the clouds in near_ at offset k: swallows,
    // with gains, the lighter ones within r, recorded in out; sets out.danger and stops at a
    // heavier one too close. Returns whether it swallowed any.
    bool meet(CloudState& own, double r, std::int32_t k, float dangerMargin, bool gains,
              PathOutcome& out);

    const CloudPaths& paths_;
    std::vector<char> eaten_;
    std::vector<std::int32_t> swallowed_;
    std::vector<std::int32_t> near_;
    std::vector<char> mayReach_;  // CloudPaths::markNear's marks for the block looked at
};

}  // namespace nimbus
