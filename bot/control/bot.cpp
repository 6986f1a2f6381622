#include "bot/control/bot.hpp"

#include "bot/net/state_request.hpp"

namespace nimbus {

void Bot::run() {
    if (!link.enabled()) return;
    link.announceName();
    WorldSnapshot snapshot;
    tickClock.stateClock = clock_.now();
    refreshState(link, snapshot);
    tickClock.recordState(snapshot.tick);
}

}  // namespace nimbus
