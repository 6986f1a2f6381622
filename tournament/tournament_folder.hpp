#pragma once
// A tournament's folder: DIR/tournament.json records the settings it was started with.
#include <filesystem>

#include "tournament/config.hpp"

namespace nimbus::tournament {

// Creates dir if needed and records `config` in dir/tournament.json. When the folder already
// holds a tournament, it must be the same one (the number of games may change): otherwise throws
// std::invalid_argument saying what differs. Throws std::runtime_error when it cannot write.
void prepareFolder(const std::filesystem::path& dir, const TournamentConfig& config);

}  // namespace nimbus::tournament
