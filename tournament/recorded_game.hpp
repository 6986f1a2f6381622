#pragma once
// Reading what the game analysis needs from an arena replay: the settings, the ticks played and
// the accepted winds. Reads the arena's replays of either format (docs/replay.md), plain or
// gzip-compressed, through the arena's streaming reader: memory for one line.
#include <filesystem>

#include "tournament/game_analysis.hpp"

namespace nimbus::tournament {

// Reads the replay file. A record cut short (no end line) ends at its last tick. Throws
// std::runtime_error saying why when the file cannot be read or is not a replay.
RecordedGame readRecordedGame(const std::filesystem::path& replay);

// The replay in a game's folder: replay.jsonl.gz as nimbus-tournament names it, else
// replay.json (older tournaments). The first name when neither exists.
std::filesystem::path replayBeside(const std::filesystem::path& results);

}  // namespace nimbus::tournament
