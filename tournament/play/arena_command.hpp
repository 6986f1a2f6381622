#pragma once
// The arena command line of one game, and its shell form for batch engines.
#include <filesystem>
#include <string>
#include <vector>

#include "tournament/records/config.hpp"
#include "tournament/play/schedule.hpp"

namespace nimbus::tournament {

// The folder of game n under a tournament folder: DIR/games/<n>.
std::filesystem::path gameFolder(const std::filesystem::path& dir, std::int32_t number);

// argv of the arena for `game`, writing results.json, replay.jsonl.gz and the bot logs into
// `folder`: --port 0 --quiet --seed S [passed-through options] [--sandbox and its limits]
// --results ... --replay ...
// --log-dir ... then the seats' BOTs in seat order.
std::vector<std::string> arenaArguments(const std::string& arena, const TournamentConfig& config,
                                        const GameSpec& game, const std::filesystem::path& folder);

// A word for /bin/sh: itself when made only of safe characters, else single-quoted.
std::string shellQuote(const std::string& word);

// One line for a batch engine: makes the game's folder, then runs the arena with its output in
// folder/arena.log.
std::string jobLine(const std::string& arena, const TournamentConfig& config, const GameSpec& game,
                    const std::filesystem::path& folder);

// The job line of game `number` of the tournament in `dir` (into DIR/games/<number>), as `plan`
// prints it.
std::string planLine(const std::string& arena, const TournamentConfig& config,
                     const std::filesystem::path& dir, std::int32_t number);

}  // namespace nimbus::tournament
