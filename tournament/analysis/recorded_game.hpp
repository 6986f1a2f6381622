#pragma once
// Reading what the game analysis needs from an arena replay: the settings, the ticks played and
// the accepted winds. Reads the arena's replays of either format (docs/replay.md), plain or
// gzip-compressed, through the arena's streaming readers: for version 2 memory for one line and
// for the winds the game's own settings allow; version 1 through the verifier's own reader
// (arena/replay/reader_v1.hpp), with its caps on the text, its nesting and its strings.
#include <filesystem>

#include "tournament/analysis/game_analysis.hpp"
#include "tournament/records/game_result.hpp"

namespace nimbus::tournament {

// Reads the replay of `game` (its results, already checked against the game's seats). The
// header must be that game's: the seed, ticks, rainclouds and tick length of the results, as
// many players as were seated and, by index, the same players (name and kind); the tick lines
// must follow one another from tick 0, none beyond the game's length, with no more winds than
// its players may blow. Only a regular file is opened (never a FIFO or a device, whatever a link
// points to), and nothing the header claims is allocated before it matches. A record cut short
// (no end line) ends at its last tick. Throws std::runtime_error saying why when the file
// cannot be read, is not a replay or is not this game's.
RecordedGame readRecordedGame(const std::filesystem::path& replay, const GameOutcome& game);

// The replay in a game's folder: replay.jsonl.gz as nimbus-tournament names it, else
// replay.json (older tournaments). The first name when neither exists.
std::filesystem::path replayBeside(const std::filesystem::path& results);

}  // namespace nimbus::tournament
