#pragma once
// A replay's JSON values as its readers take them (the verifier, the version-1 reader, the
// tournament's analysis): each number checked against arena/limits.hpp before anything is
// allocated for it. The checks throw NotAReplay.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"

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

// The JSON document of a line that may be a version-2 header; discarded (never built) when it is
// not JSON, or holds more values or deeper nesting than a header can, so that its document stays
// small whatever the line.
nlohmann::json parseHeader(const std::string& text);

}  // namespace nimbus::arena
