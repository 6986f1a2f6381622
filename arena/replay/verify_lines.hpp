#pragma once
// What the verifier's two readers (replay.cpp for version 2, replay_v1.cpp for version 1) share:
// the checks of the numbers they read, each against arena/limits.hpp before anything is
// allocated for it. The checks throw NotAReplay; verifyReplay turns it into "not a replay".
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"
#include "arena/replay/verify.hpp"
#include "arena/replay/reader.hpp"

namespace nimbus::arena {

// A replay that cannot be trusted: thrown while reading, reported as "not a replay".
struct NotAReplay {
    std::string reason;
};

// object[key]; throws when object is no object or has no such key.
const nlohmann::json& field(const nlohmann::json& object, const char* key);
// An integer from low to high (no float, however round); throws otherwise.
std::int64_t integerIn(const nlohmann::json& value, const char* what, std::int64_t low,
                       std::int64_t high);
// A number that fits a finite 32-bit float, as that float; throws otherwise.
float finiteFloat(const nlohmann::json& value, const char* what);
// The "settings" of a replay of either version; throws when one is missing or beyond the limits.
GameSettings settingsOf(const nlohmann::json& replay);

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
