#pragma once
// The referee of a seated player's protocol lines: what each line does to the game and the reply
// it gets, with the arena's limits (a second NAME, refused winds, the GET_STATE budget per tick).
// No sockets and no clock: the arena's server and the virtual games both answer through it.
#include <cstdint>
#include <string>

#include "arena/game/game.hpp"
#include "arena/server/protocol.hpp"

namespace nimbus::arena {

// A player's GET_STATE count in the current tick, and its refusals over the game.
struct StateBudget {
    std::int32_t tick = -1;  // the tick `states` counts for
    std::int32_t states = 0;
    std::int64_t refused = 0;
};

enum class Ruling {
    Answered,    // the line did what it asks
    Refused,     // ERROR: not a command, a second NAME, or a wind the game refused
    OverBudget,  // ERROR over budget: one GET_STATE too many in this tick
};

struct Reply {
    Ruling ruling = Ruling::Answered;
    std::string text;  // the reply line(s), ending in '\n'
};

// Rules on a line of a connection that has no seat yet: only a good NAME can seat it (true; where
// and when is the caller's), anything else gets `refusal`.
bool refereeLobby(const Command& command, std::string& refusal);

// The reply that tells a player its NAME seated it (sent when the game starts).
inline std::string nameAccepted(const std::string& name) { return "OK " + name + "\n"; }

// Rules on one parsed line of player `player` (seated, in a game that runs at `tickMs`): queues
// its wind, or formats its state, and counts it in `budget`.
Reply referee(Game& game, std::int32_t player, std::int32_t tickMs, StateBudget& budget,
              const Command& command);

}  // namespace nimbus::arena
