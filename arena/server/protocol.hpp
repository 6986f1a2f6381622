#pragma once
// The line protocol, server side: parsing one client line into a command and formatting the
// state reply. A line is a keyword and, after the first space, an argument text.
#include <cstdint>
#include <string>
#include <string_view>

#include "arena/game/game.hpp"
#include "arena/limits.hpp"

namespace nimbus::arena {

// Every "ERROR <reason>" reply stays under 32 characters: the bot reads at most 32 characters of
// a WIND reply and would take the rest of a longer line as a line of its own.
inline constexpr std::size_t kMaxReasonBytes = 25;

enum class CommandKind { Name, GetState, Wind, Invalid };

struct Command {
    CommandKind kind = CommandKind::Invalid;
    std::string name;  // NAME: the player name
    float wx = 0.0f;   // WIND: the components as 32-bit floats (beyond the float range: +-inf)
    float wy = 0.0f;
    std::string error;  // Invalid: why, for the "ERROR <reason>" reply (see kMaxReasonBytes)
};

// Whether text is a name the arena takes: valid UTF-8 (no overlong forms, no surrogates), no
// control characters (C0, DEL, C1), 1 to kMaxNameBytes bytes.
bool isGoodName(std::string_view text);

// Parses one line (line feed and carriage returns already removed). Never throws.
Command parseCommand(std::string_view line);

// The reply to GET_STATE for the given player: BEGIN_STATE <tick>, YOU <index among the
// THUNDERSTORM lines> (-1 for a player that has none), one THUNDERSTORM line per living player in
// player order, one RAINCLOUD line per raincloud, END_STATE. Numbers with "%f".
std::string formatState(const Game& game, std::int32_t player);

}  // namespace nimbus::arena
