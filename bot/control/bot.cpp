#include "bot/control/bot.hpp"

#include <algorithm>
#include <optional>

#include "bot/control/target_track.hpp"
#include "bot/control/wind_command.hpp"
#include "bot/net/state_request.hpp"
#include "bot/plan/strategy.hpp"

namespace nimbus {
namespace {

constexpr std::int32_t kWatchedWindWait = 110;  // longer wind waits are watched
constexpr std::int32_t kShortestWindWait = 10;  // shorter wind waits are not waited at all
constexpr std::int32_t kWatchedEndWait = 330;   // longer end waits are watched
constexpr std::int32_t kStepMs = 110;           // one watch step, and the shortest end wait
constexpr std::int32_t kWindReplyLimit = 32;

// Releases a plan's follow-up chain when the cycle is left, however it is left.
class ChainRelease {
  public:
    explicit ChainRelease(Strategy& plan) : plan_(plan) {}
    ~ChainRelease() { plan_.releaseFollowUps(); }
    ChainRelease(const ChainRelease&) = delete;
    ChainRelease& operator=(const ChainRelease&) = delete;

  private:
    Strategy& plan_;
};

}  // namespace

Bot::Bot(platform::Clock& clock, const char* port, std::unique_ptr<Planner> planner)
    : link(port), clock_(clock), planner_(planner ? std::move(planner) : makePlanner("faithful")) {}

void Bot::run() {
    if (!link.enabled())
        return;
    link.announceName();
    WorldSnapshot snapshot;
    tickClock.stateClock = clock_.now();
    refreshState(link, snapshot);
    tickClock.recordState(snapshot.tick);
    while (link.enabled())
        runCycle(snapshot);
}

void Bot::runCycle(WorldSnapshot& snapshot) {
    Trajectory own(kOwnPathCapacity);
    own.predict(snapshot.tick, kOwnPathTicks, snapshot.own);
    Strategy plan = planner_->decide(tickClock.tickDrift, snapshot, own);
    playPlan(snapshot, own, plan);
}

bool Bot::playPlan(WorldSnapshot& snapshot, const Trajectory& own, Strategy& plan) {
    ChainRelease release(plan);
    const std::int32_t actionTick = plan.actionTick();
    tickClock.plannedState = own.stateAt(actionTick);
    tickClock.plannedTick = actionTick;
    tickClock.windSkipped = false;

    // The chased cloud's path, from the plan's start tick to its end, for both waits.
    std::optional<TargetTrack> track;
    if (!plan.isDirect)
        track.emplace(plan);
    const TargetTrack* watched = track ? &*track : nullptr;

    const std::int32_t remaining = msUntil(tickClock.clockAtTick(actionTick, true));
    if (remaining > kWatchedWindWait) {
        if (waitForWindTick(snapshot, actionTick, own.stateAt(actionTick), watched))
            return false;
    } else if (remaining > kShortestWindWait) {
        clock_.sleep(remaining);
    }

    const Wind wind = plan.actionWind();
    if (wind.x == 0.0f && wind.y == 0.0f) {
        tickClock.windSkipped = true;
    } else {
        sendWind(wind.x, wind.y);
    }
    finishPlan(snapshot, plan, watched);
    return true;
}

void Bot::finishPlan(WorldSnapshot& snapshot, const Strategy& plan, const TargetTrack* track) {
    const std::int32_t endTick = plan.endTick();
    const std::int32_t remaining = msUntil(tickClock.clockAtTick(endTick, false));
    clock_.sleep(remaining > kWatchedEndWait || remaining <= kStepMs ? kStepMs : remaining);
    tickClock.stateClock = clock_.now();
    refreshState(link, snapshot);
    tickClock.calibrate(snapshot.tick, snapshot.own);
    if (remaining > kWatchedEndWait)
        waitForPlanEnd(snapshot, endTick, track);
}

void Bot::sendWind(float windX, float windY) {
    const std::string text = formatWind(windX, windY);
    link.sendText(text.data(), static_cast<int>(text.size()));
    char reply[kWindReplyLimit + 1];
    const std::int32_t count = link.receiveLine(reply, kWindReplyLimit);
    reply[count] = '\0';
}

std::int32_t Bot::msUntil(std::int32_t reading) {
    const std::int64_t ms = std::int64_t{reading} - clock_.now();
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, INT32_MIN, INT32_MAX));
}

}  // namespace nimbus
