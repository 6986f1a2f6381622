#pragma once
// nimbus-bot's command line: `--port N` (or `--port=N`), `--strategy NAME` (or `--strategy=NAME`),
// `--list-strategies`, `--help` / `-h`. The port is taken from --port, else from the environment's
// NIMBUS_ARENA_PORT (set by nimbus-arena for the bots it starts), else the game's port 1986.
#include <string>

namespace nimbus {

struct BotOptions {
    std::string port = "1986";          // decimal, 1 to 65535
    std::string strategy = "faithful";  // one of strategyNames() (bot/plan/planner.hpp)
    bool help = false;                  // print the usage and exit 0 without connecting
    bool listStrategies = false;        // print the strategy names and exit 0 without connecting
    std::string error;                  // not empty: a usage error; exit 2
};

// Reads the arguments (argv[1] on) and the value of NIMBUS_ARENA_PORT (nullptr when unset).
// Never throws for bad input: a bad argument or port fills `error`.
BotOptions parseBotOptions(int argc, const char* const* argv, const char* environmentPort);

// The short usage text printed by --help, ending with a line feed.
const char* botUsage();

}  // namespace nimbus
