#pragma once
// Opponents the arena plays itself, in process. Idle never blows. Greedy, every few ticks, blows an
// affordable wind away from a heavier cloud closing in, else toward the best nearby lighter cloud.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "arena/game/game.hpp"

namespace nimbus::arena {

enum class BuiltinKind { Idle, Greedy };

// "builtin:idle" or "builtin:greedy" give their kind; any other "builtin:..." gives nothing.
std::optional<BuiltinKind> parseBuiltin(std::string_view spec);
bool looksBuiltin(std::string_view spec);
std::string builtinName(BuiltinKind kind);

struct Wind {
    float wx = 0.0f;
    float wy = 0.0f;
};

// The wind this builtin player blows now, given the game as it stands, or nothing. Pure: the
// same game state always gives the same answer.
std::optional<Wind> builtinWind(BuiltinKind kind, const Game& game, std::int32_t player);

}  // namespace nimbus::arena
