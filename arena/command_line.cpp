#include "arena/command_line.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include <CLI/CLI.hpp>

#include "arena/game/builtin_player.hpp"
#include "arena/server/output_file.hpp"

namespace nimbus::arena {
namespace {

namespace fs = std::filesystem;

constexpr const char* kExitCodes =
    "Exit status: 0 a game was played (or a replay verified); 1 no game could be played, or\n"
    "--verify found a MISMATCH; 2 a usage error, or --verify of a file that is not a replay;\n"
    "3 the port is in use; 130 / 143 interrupted by SIGINT / SIGTERM.";

// A number as the option expects it: optional sign (when negatives make sense), digits, and for
// real numbers a fraction. Checked before CLI11 converts, so that the error says what is wrong.
CLI::Validator numberCheck(bool real, bool negative) {
    return CLI::Validator(
        [real, negative](std::string& text) -> std::string {
            std::size_t i = 0;
            if (negative && i < text.size() && (text[i] == '-' || text[i] == '+')) {
                ++i;
            }
            bool digits = false;
            bool point = false;
            for (; i < text.size(); ++i) {
                if (text[i] >= '0' && text[i] <= '9') {
                    digits = true;
                } else if (real && text[i] == '.' && !point) {
                    point = true;
                } else {
                    return "\"" + text + "\" is not a number";
                }
            }
            return digits ? std::string() : "\"" + text + "\" is not a number";
        },
        real ? "NUMBER" : "INT");
}

// A seed: an integer from 0 to 2^64 - 1.
CLI::Validator seedCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text.empty()) {
                return "\"\" is not a number";
            }
            if (text[0] == '-') {
                return "\"" + text + "\" is out of range (0 to 18446744073709551615)";
            }
            std::uint64_t value = 0;
            for (const char c : text) {
                if (c < '0' || c > '9') {
                    return "\"" + text + "\" is not a number";
                }
                const auto digit = static_cast<std::uint64_t>(c - '0');
                if (value > (UINT64_MAX - digit) / 10) {
                    return "\"" + text + "\" is out of range (0 to 18446744073709551615)";
                }
                value = value * 10 + digit;
            }
            return std::string();
        },
        "SEED");
}

}  // namespace

std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& line) {
    CLI::App app{
        "nimbus-arena: a game server for the nimbus line protocol. Each BOT is a command line that "
        "the arena starts once it listens (it finds the port in NIMBUS_ARENA_PORT), or "
        "builtin:idle / builtin:greedy, an opponent the arena plays itself."};
    app.add_option("BOT", line.options.bots, "bot command lines or builtin players");
    app.footer(kExitCodes);
    const CLI::Validator integer = numberCheck(false, true);
    const CLI::Validator real = numberCheck(true, false);
    app.add_option("--port", line.port, "TCP port on 127.0.0.1 (0: any free port)")
        ->check(integer)
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    auto* seedOption = app.add_option("--seed", line.options.seed,
                                      "seed of the game, 0 to 2^64 - 1 (default: random)")
                           ->check(seedCheck());
    app.add_option("--ticks", line.options.ticks, "length of the game in ticks")
        ->check(integer)
        ->check(CLI::Range(1, 100000000))
        ->capture_default_str();
    app.add_option("--tick-ms", line.options.tickMs,
                   "milliseconds per tick while a client is connected (without one, the ticks run "
                   "as fast as they can)")
        ->check(integer)
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    app.add_option("--rainclouds", line.options.rainclouds, "number of rainclouds")
        ->check(integer)
        ->check(CLI::Range(0, 10000))
        ->capture_default_str();
    app.add_option("--players", line.options.players, "players to wait for (default: one per BOT)")
        ->check(integer)
        ->check(CLI::Range(1, 64));
    app.add_option("--lobby-seconds", line.options.lobbySeconds,
                   "the lobby's length: the game starts then with the players named so far, "
                   "even if not full (none: no game, exit 1)")
        ->check(real)
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    app.add_option("--replay", line.replayPath,
                   "write the replay to FILE while the game runs (gzip-compressed JSON lines; "
                   "FILE.partial until the game ends)");
    app.add_option("--results", line.resultsPath, "write the results as JSON to FILE");
    app.add_option("--log-dir", line.logDir,
                   "directory for the bot processes' logs (default: beside --results or "
                   "--replay, else the temporary directory)");
    app.add_flag("--quiet", line.quiet,
                 "no progress line and no informational log lines (--port 0's port line stays)");
    app.add_option("--verify", line.verifyPath,
                   "re-run a replay FILE and check every tick; exit 0 "
                   "only if all match");
    util::addSandboxOptions(app, line.sandbox);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "nimbus-arena: %s\n", e.what());
        return kExitUsage;
    }
    line.seedGiven = seedOption->count() != 0;
    return std::nullopt;
}

std::string checkGameOptions(CommandLine& line) {
    ArenaOptions& options = line.options;
    options.port = static_cast<std::uint16_t>(line.port);
    if (options.bots.empty() && options.players == 0) {
        return "nothing to play: give at least one BOT or --players N";
    }
    if (options.players != 0 && options.players < static_cast<std::int32_t>(options.bots.size())) {
        return "--players " + std::to_string(options.players) + " is fewer than the " +
               std::to_string(options.bots.size()) + " BOTs given";
    }
    for (const std::string& bot : options.bots) {
        if (looksBuiltin(bot) && !parseBuiltin(bot)) {
            return "unknown builtin player \"" + bot + "\" (known: builtin:idle, builtin:greedy)";
        }
    }
    for (const std::string& path : {line.replayPath, line.resultsPath}) {
        if (path.empty()) {
            continue;
        }
        if (const std::string why = whyNotWritable(path); !why.empty()) {
            return "cannot write " + path + ": " + why;
        }
    }
    if (line.logDir.empty()) {
        const std::string beside = !line.resultsPath.empty() ? line.resultsPath : line.replayPath;
        line.logDir = beside.empty() ? fs::temp_directory_path().string()
                                     : fs::absolute(beside).parent_path().string();
    }
    std::error_code ec;
    if (!fs::is_directory(line.logDir, ec)) {
        return "log directory " + line.logDir + " does not exist";
    }
    options.logDir = fs::absolute(line.logDir).string();
    return "";
}

}  // namespace nimbus::arena
