#include "bot/plan/strategy.hpp"

namespace nimbus {

void Strategy::setDirect(float wx, float wy, std::int32_t start, std::int32_t ticks) {
    windX = wx;
    windY = wy;
    startTick = start;
    duration = ticks;
    isDirect = true;
}

const Strategy& Strategy::lastStage() const {
    const Strategy* stage = this;
    while (stage->followUp != nullptr)
        stage = stage->followUp;
    return *stage;
}

std::int32_t Strategy::actionTick() const {
    return lastStage().startTick;
}

Wind Strategy::actionWind() const {
    const Strategy& last = lastStage();
    return Wind{last.windX, last.windY};
}

std::int32_t Strategy::endTick() const {
    return tickAfter(startTick, duration);
}

void Strategy::releaseFollowUps() {
    if (followUp == nullptr)
        return;
    followUp->releaseFollowUps();
    delete followUp;
    followUp = nullptr;
}

}  // namespace nimbus
