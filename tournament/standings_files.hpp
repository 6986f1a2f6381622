#pragma once
// Finding games on disk and writing standings beside them.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tournament/standings.hpp"

namespace nimbus::tournament {

// Every file named results.json under the folders, each folder's in natural order (games/2
// before games/10), the folders in the order given; a file reached twice is listed once.
std::vector<std::filesystem::path> findResults(const std::vector<std::filesystem::path>& folders);

// Writes text to path through a temporary file and a rename, so readers see all or nothing.
// Throws std::runtime_error when it cannot.
void writeWhole(const std::filesystem::path& path, const std::string& text);

// Writes standings.json, standings.csv and standings.md into dir.
void writeStandingsFiles(const std::filesystem::path& dir, const Standings& standings);

}  // namespace nimbus::tournament
