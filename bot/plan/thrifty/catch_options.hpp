#pragma once
// The cheapest way to catch each lighter raincloud with one wind blown now: the wind law solved
// along the own free path (as the chase planner does), every catch tick tried, each catch scored
// by its net gain per tick. Only the best few are kept, to be simulated in full (path_sim.hpp).
#include <cstdint>
#include <span>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/trajectory.hpp"
#include "bot/plan/thrifty/cloud_paths.hpp"

namespace nimbus {

struct CatchRules {
    double overheadTicks;  // added to a catch's ticks in its score: the time it takes to set up
    double windWeight;     // mass blown away counts this much against the mass won
    double aim;            // the wind brings the target this share of the own radius inside it
    double maxWindShare;   // no wind costs more than this share of the own mass
    // Whether a catch that loses mass on its own is kept too: the whole path of its wind may
    // catch more on the way, which only a simulation of that path tells.
    bool keepLosing;
};

struct CatchOption {
    double score;        // (mass - windWeight x cost) / (ticks + overheadTicks)
    std::int32_t cloud;  // in the paths
    float windX;         // zero when the free path already brings the cloud in
    float windY;
};

// For the wind blown at tick t = the paths' tick + k0, from start (the own state at t, on the own
// free path `own`): per raincloud lighter than start, the catch tick that scores best, catches
// examined until the own free path bounces (one wind no longer shifts it in a straight line) or
// the paths end. Returns at most `keep` options, best first: those with a positive score, or with
// rules.keepLosing any catch within reach. The clouds in `gone` (swallowed already) are no targets.
std::vector<CatchOption> cheapestCatches(const CloudPaths& paths, const Trajectory& own,
                                         const CloudState& start, std::int32_t t, std::int32_t k0,
                                         const CatchRules& rules, std::size_t keep,
                                         std::span<const std::int32_t> gone = {});

}  // namespace nimbus
