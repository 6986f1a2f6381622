#pragma once
// The escape from a heavier cloud on course to swallow the own cloud: the cheapest wind after
// which the own path stays clear of every heavier cloud's free path.
#include <cstdint>
#include <optional>

#include "bot/physics/cloud_state.hpp"
#include "bot/plan/strategy.hpp"
#include "bot/plan/thrifty/cloud_paths.hpp"
#include "bot/plan/thrifty/path_sim.hpp"

namespace nimbus {

struct EscapeRules {
    std::int32_t ticks;  // the own path must stay clear this many ticks after the wind
    double most;         // the strongest wind allowed
    float rainMargin;    // how far beyond a heavier raincloud's radius counts as too close
    float rivalMargin;   // the same for a heavier rival, which can steer
};

// The wind blown at start, the own state k0 ticks after the paths' tick: strengths from 1 up,
// half as strong again each time, 16 directions each; the first whose path stays clear. When
// none does, the one that meets the danger latest, if later than `danger` (the tick offset at
// which the free path meets it). Nothing when no wind helps.
std::optional<Wind> escapeWind(const CloudPaths& paths, const CloudState& start, std::int32_t k0,
                               std::int32_t danger, const EscapeRules& rules);

}  // namespace nimbus
