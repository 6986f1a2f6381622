#pragma once
// The state request: "GET_STATE" and the parsing of its reply into a WorldSnapshot.
//   BEGIN_STATE <tick> / YOU <index> / THUNDERSTORM x y vx vy mass / RAINCLOUD ... / END_STATE
// The own cloud is the THUNDERSTORM line whose position among this reply's THUNDERSTORM lines
// equals the YOU index; every other THUNDERSTORM line is a rival. Unknown keywords are skipped.
#include "bot/net/server_link.hpp"
#include "bot/physics/world_snapshot.hpp"

namespace nimbus {

// Line limit of a state reply (characters; the buffer holds one more for the terminator).
inline constexpr std::int32_t kStateLineLimit = 1025;

// Sends "GET_STATE\n" and parses the reply into snapshot, appending to its lists. Empty lines are
// skipped; the request ends at END_STATE, or at once when the link fails (snapshot keeps what was
// parsed before). A value a line does not supply keeps what its target held.
void requestState(ServerLink& link, WorldSnapshot& snapshot);

// Empties the snapshot's lists, then runs requestState.
void refreshState(ServerLink& link, WorldSnapshot& snapshot);

}  // namespace nimbus
