#pragma once
// One plan for the bot's own cloud: a wind to blow at a start tick, how long the plan lasts, the
// mass it expects to win and, for chase plans, the target and an optional chain of later stages.
//
// Ownership of the chain is by hand: copies share the chain (the followUp pointer is copied, not
// the stage), the destructor never frees it, and exactly one holder calls releaseFollowUps.
#include <cstdint>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/trajectory.hpp"

namespace nimbus {

// What the chase planner reports: the plan's own fields of the same names.
struct PlanSummary {
    std::int32_t duration;
    float gain;
    std::int32_t reserved;
    std::int32_t depth;
};

struct Wind {
    float x;
    float y;
};

// Final: nothing derives from a plan, so deleting a stage through its own type is exact.
class Strategy final {
  public:
    CloudState ownState;         // own predicted state at startTick; its mass is the bot's mass
    std::int32_t startTick = 0;  // tick at which this stage's wind is due
    std::int32_t duration = 0;   // ticks from startTick to the plan's end
    float gain = 0.0f;           // expected mass won
    std::int32_t reserved = 0;   // written as 0, never read
    std::int32_t depth = 0;      // number of follow-up stages kept below this one
    float windX = 0.0f;
    float windY = 0.0f;
    CloudState targetState;          // the target's predicted state at startTick (chase plans)
    Strategy* followUp = nullptr;    // next stage on the heap, or null; see releaseFollowUps
    std::vector<Strategy> subPlans;  // always empty
    bool spareFlag = false;          // copied along, never set or tested
    bool isDirect = false;           // true for plans made by setDirect

    // The chase planner (bot/plan/chase.cpp): plans one puff at tick t that brings the own cloud
    // onto the target, with follow-up stages after the own path's wall bounces. Call it on a
    // fresh plan only (null followUp). Reads both trajectories up to their lastIndex.
    virtual PlanSummary plan(std::int32_t t, const Trajectory& own, const Trajectory& target,
                             float reserve);

    // Makes this a direct plan: stores the wind, start tick and tick count and sets isDirect.
    // Changes no other field.
    virtual void setDirect(float wx, float wy, std::int32_t start, std::int32_t ticks);

    // Start tick of the chain's last stage (this plan's own when it has no follow-up).
    std::int32_t actionTick() const;
    // Wind of the chain's last stage (this plan's own when it has no follow-up).
    Wind actionWind() const;
    // startTick + duration of this plan, the top of the chain.
    std::int32_t endTick() const;
    // Frees the follow-up chain, deepest stage first, and leaves followUp null. No-op without one.
    void releaseFollowUps();

  private:
    const Strategy& lastStage() const;
};

}  // namespace nimbus
