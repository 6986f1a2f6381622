#pragma once
// A tournament's folder: DIR/tournament.json records the tournament it holds (entrants,
// settings, number of games, the arena's build), every DIR/games/<n>/game.json records the
// tournament's identity, and DIR/tournament.lock lets one run at a time use the folder.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "tournament/records/config.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/play/schedule.hpp"

namespace nimbus::tournament {

// An exclusive lock on a tournament folder, held while the object lives (and never beyond the
// process: the system drops it when the process dies, however it dies).
class FolderLock {
  public:
    // Creates dir if needed and takes the lock. Throws std::invalid_argument when another process
    // holds it, std::runtime_error when the folder or the lock file cannot be made.
    explicit FolderLock(const std::filesystem::path& dir);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_ = -1;
};

// The tournament recorded in dir/tournament.json (a regular file of at most 16 MiB), or nothing
// when there is no such file. Throws std::runtime_error saying why a file that is there holds no
// tournament.
std::optional<TournamentConfig> readTournament(const std::filesystem::path& dir);

// What game `game` of the tournament must be.
ExpectedGame expectedGame(const TournamentConfig& config, const GameSpec& game);

// Checks that dir holds no other tournament than `config`, whatever files are missing: its
// tournament.json, every game folder's game.json and every results file must agree (the number
// of games may grow, never shrink, and no game folder may lie beyond it); then records `config`
// in dir/tournament.json. Returns the numbers of the games already finished, in order. Throws
// std::invalid_argument saying what differs, std::runtime_error when it cannot write. Call with
// the folder locked.
std::vector<std::int32_t> prepareFolder(const std::filesystem::path& dir,
                                        const TournamentConfig& config);

// dir/games/<n>/game.json: the tournament's identity, the game's number, seed and seats, and the
// sandbox's limits when it has one.
void writeGameFile(const std::filesystem::path& folder, const TournamentConfig& config,
                   const GameSpec& game);

}  // namespace nimbus::tournament
