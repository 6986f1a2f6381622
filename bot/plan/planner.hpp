#pragma once
// A way of playing: what the control loop asks, once per cycle, for the plan to follow. Each
// strategy the bot knows (`nimbus-bot --strategy NAME`) is a Planner: `faithful`
// (faithful_planner.hpp, the decision step of decide.hpp, unchanged), `thrifty`
// (thrifty/thrifty_planner.hpp) and `keen` (keen/keen_planner.hpp).
//
// The control loop vets every strategy's plan with the faithful threat forecast
// (forecastCollision, evasion.hpp), whatever the strategy's own idea of danger: while it waits
// for the plan's wind tick and then for its end, it forecasts from each fresh state, and a
// heavier cloud closing in before that tick drops the wind not yet blown or ends the plan early;
// the planner is then asked again.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {

// The own path the control loop hands to each decision: predicted for kOwnPathTicks ticks from
// the snapshot's tick, in a trajectory of kOwnPathCapacity slots.
inline constexpr std::int32_t kOwnPathTicks = 500;
inline constexpr std::int32_t kOwnPathCapacity = 1000;

class Planner {
  public:
    virtual ~Planner() = default;

    // The plan for this cycle. own holds the own path predicted from snapshot.own at
    // snapshot.tick (kOwnPathTicks ticks, kOwnPathCapacity slots); tickDrift is the tick clock's
    // drift. The caller owns the returned plan and releases its follow-up chain. A planner may
    // remember what it saw from one call to the next (one Planner plays one game).
    virtual Strategy decide(float tickDrift, const WorldSnapshot& snapshot,
                            const Trajectory& own) = 0;
};

// The strategies, one name a line in this order: "faithful" (the default) first.
std::vector<std::string> strategyNames();

// A fresh planner for the named strategy, or nullptr for a name that is not one of them.
std::unique_ptr<Planner> makePlanner(std::string_view name);

}  // namespace nimbus
