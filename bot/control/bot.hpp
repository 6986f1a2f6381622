#pragma once
// The one object that lives across the bot's control cycles: the tick clock and the server link.
// Bot::run plays the game until the link is disabled.
#include <cstdint>
#include <memory>

#include "bot/control/tick_clock.hpp"
#include "bot/net/server_link.hpp"
#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/planner.hpp"
#include "bot/platform/clock.hpp"

namespace nimbus {

class Strategy;
class TargetTrack;

class Bot {
  public:
    // Sets the tick clock's start values and opens the link on 127.0.0.1:port (the game's port
    // unless a test says otherwise). Time is read and slept through clock. Every cycle asks
    // planner for its plan; without one, the faithful strategy decides.
    explicit Bot(platform::Clock& clock, const char* port = kServerPort,
                 std::unique_ptr<Planner> planner = nullptr);

    // The game: NAME handshake, first state, then control cycles until the link is disabled.
    // Returns at once on a link that is already disabled.
    void run();

    // One control cycle on the latest snapshot: predict, decide, then carry the plan out.
    void runCycle(WorldSnapshot& snapshot);

    // Carries out one plan made from snapshot with the own prediction own: waits for its action
    // tick (watched when long), blows its action wind, waits for its end tick and calibrates the
    // tick clock from the state read there. Returns false when the wind wait dropped the plan.
    // Releases the plan's follow-up chain in every case.
    bool playPlan(WorldSnapshot& snapshot, const Trajectory& own, Strategy& plan);

    // Waits until the wind tick in steps of at most 110 ms, refreshing the snapshot after each
    // step. True when a threat appeared or the target was lost (the plan is to be dropped);
    // false when the wait ran to its end or the link went down.
    bool waitForWindTick(WorldSnapshot& snapshot, std::int32_t windTick,
                         const CloudState& ownAtWind, const TargetTrack* track);

    // Waits until the plan's end tick, checking the snapshot before each step and refreshing it
    // after. True when it stopped early for a threat or a lost target.
    bool waitForPlanEnd(WorldSnapshot& snapshot, std::int32_t endTick, const TargetTrack* track);

    TickClock tickClock;
    ServerLink link;

  private:
    // Milliseconds from now until the clock reading (saturated to int32).
    std::int32_t msUntil(std::int32_t reading);
    // Sleeps one step towards the reading: 110 ms when more than 220 remain (returns false),
    // else the rest but at least 110 ms (returns true: the last step).
    bool sleepStep(std::int32_t reading);
    // Reads the clock, refreshes the snapshot and records its tick.
    void refreshStep(WorldSnapshot& snapshot);
    // A cloud at least as heavy as the bot threatens it before the tick.
    bool threatBefore(std::int32_t tick, const WorldSnapshot& snapshot);
    // Sends the wind and reads (and ignores) the server's one-line reply.
    void sendWind(float windX, float windY);
    // After the wind: waits for the end tick, reads a state and calibrates from it.
    void finishPlan(WorldSnapshot& snapshot, const Strategy& plan, const TargetTrack* track);

    platform::Clock& clock_;
    std::unique_ptr<Planner> planner_;
};

}  // namespace nimbus
