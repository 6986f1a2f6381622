#pragma once
// Reading what the game analysis needs from an arena replay: the settings, the ticks played and
// the accepted winds.
#include <filesystem>

#include "tournament/game_analysis.hpp"

namespace nimbus::tournament {

// Reads the replay file. Throws std::runtime_error saying why when the file cannot be read or is
// not a replay.
RecordedGame readRecordedGame(const std::filesystem::path& replay);

}  // namespace nimbus::tournament
