#pragma once
// nimbus-arena's command line: the options as given, read and checked before anything starts.
#include <optional>
#include <string>

#include "arena/server/arena_server.hpp"
#include "util/sandbox_settings.hpp"

namespace nimbus::arena {

// Exit codes: 0 a game was played (or a replay verified), 1 no game, a mismatch or an output
// file that could not be written, 2 a usage error or a file that is not a replay, 3 the port
// could not be bound, 128 + the signal when SIGINT or SIGTERM interrupted the game.
constexpr int kExitNoGame = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotListen = 3;

struct CommandLine {
    ArenaOptions options;  // the game's (its port, seed, progress and replay set by the caller)
    int port = 1986;
    bool seedGiven = false;  // false: the caller picks a random seed
    std::string replayPath;
    std::string resultsPath;
    std::string verifyPath;  // not empty: verify this replay instead of playing
    std::string logDir;
    bool quiet = false;
    util::SandboxOptions sandbox;
};

// Reads the arguments into line. An exit code when the program ends here (0 after --help; 2
// after a usage error, said on stderr), nothing when it goes on.
std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& line);

// Checks the options of a game to play, then completes them: the port, and the log directory
// made absolute (by default beside --results or --replay, else the temporary directory). Why the
// game cannot be played, or "".
std::string checkGameOptions(CommandLine& line);

}  // namespace nimbus::arena
