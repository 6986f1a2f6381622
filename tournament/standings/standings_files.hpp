#pragma once
// Finding games on disk and writing standings beside them.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tournament/records/config.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/standings/standings.hpp"
#include "tournament/records/whole_file.hpp"

namespace nimbus::tournament {

// Everything named results.json under the folders (files or not: the reader says what is not a
// file), each folder's in natural order (games/2 before games/10), the folders in the order
// given; a file reached twice is listed once.
std::vector<std::filesystem::path> findResults(const std::vector<std::filesystem::path>& folders);

// What a results file found on disk must be. DIR/games/<n>/results.json of a folder DIR with a
// tournament.json is game n of that tournament; any other results file inside such a folder is
// none of its games; otherwise the game.json beside the file says its seats and seed; otherwise
// nothing is known. Tournament files are read once per folder.
class Expectations {
  public:
    // Sets `foreign` when the file's game.json belongs to another tournament than its folder's, or
    // when the file lies inside a tournament's folder without being one of its games.
    ExpectedGame of(const std::filesystem::path& results, std::string& foreign);

  private:
    // The tournament recorded in dir/tournament.json, when there is a readable one.
    const std::optional<TournamentConfig>& tournamentIn(const std::filesystem::path& dir);
    std::map<std::filesystem::path, std::optional<TournamentConfig>> tournaments_;
};

// Writes standings.json, standings.csv and standings.md into dir, made when missing.
void writeStandingsFiles(const std::filesystem::path& dir, const Standings& standings);

}  // namespace nimbus::tournament
