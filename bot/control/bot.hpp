#pragma once
// The one object that lives across the bot's control cycles: the tick clock and the server link.
// Bot::run plays the game until the link is disabled.
#include <cstdint>

#include "bot/control/tick_clock.hpp"
#include "bot/net/server_link.hpp"
#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/platform/clock.hpp"

namespace nimbus {

class Strategy;

class Bot {
public:
    // Sets the tick clock's start values and opens the link on 127.0.0.1:port (the game's port
    // unless a test says otherwise). Time is read and slept through clock.
    explicit Bot(platform::Clock& clock, const char* port = kServerPort)
        : link(port), clock_(clock) {}

    // The game: NAME handshake, first state, then control cycles until the link is disabled.
    // Returns at once on a link that is already disabled.
    void run();

    TickClock tickClock;
    ServerLink link;

private:
    platform::Clock& clock_;
};

}  // namespace nimbus
