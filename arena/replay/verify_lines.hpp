#pragma once
// What the verifier's two parts (verify.cpp for version 2, verify_v1.cpp for version 1) share.
// The checks of the values they read (fields.hpp) throw NotAReplay; verifyReplay turns it into
// "not a replay".
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"
#include "arena/replay/fields.hpp"
#include "arena/replay/verify.hpp"
#include "arena/replay/reader.hpp"

namespace nimbus::arena {

// How the arena names the end of a game that stops at this state: "ticks" or "one_left" when the
// game is over, "interrupted" (by a signal) when it is not.
const char* endReasonOf(const Game& game);

VerifyReport notReplay(const std::string& why);
VerifyReport mismatch(std::int32_t ticksChecked, const std::string& why);

// A version-1 replay (one JSON text): `start` is text already taken from the source (its first
// line), the rest is read from it. `ours` tells whether the text names this arena's replay format.
// Never throws.
VerifyReport verifyVersion1(ReplaySource& source, std::string start, bool& ours);

}  // namespace nimbus::arena
