// nimbus-arena: a game server for the nimbus line protocol. Starts the bots it is given, plays
// builtin opponents itself, runs one game while it streams the replay to its file, prints the
// results and writes them as JSON. `--verify FILE` re-runs a replay instead and checks every tick.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "arena/game/builtin_player.hpp"
#include "arena/replay/verify.hpp"
#include "arena/game/results.hpp"
#include "arena/server/arena_server.hpp"
#include "arena/server/output_file.hpp"
#include "util/sandbox_settings.hpp"
#include "util/whole_file.hpp"

namespace {

namespace fs = std::filesystem;
using nimbus::arena::ArenaOptions;

// Exit codes: 0 a game was played (or a replay verified), 1 no game, a mismatch or an output
// file that could not be written, 2 a usage error or a file that is not a replay, 3 the port
// could not be bound, 128 + the signal when SIGINT or SIGTERM interrupted the game.
constexpr int kExitNoGame = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotListen = 3;

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

int fail(const std::string& message) {
    std::fprintf(stderr, "nimbus-arena: %s\n", message.c_str());
    return kExitUsage;
}

// A file that is not a replay: exit 2 with its reason on stderr.
int notAReplay(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "%s: not a replay: %s\n", path.c_str(), why.c_str());
    return 2;
}

int verify(const std::string& path) {
    const auto source = nimbus::arena::ReplaySource::file(path);
    if (!source->problem().empty()) {
        return fail(path + ": " + source->problem());
    }
    const nimbus::arena::VerifyReport report = nimbus::arena::verifyReplay(*source);
    if (report.notReplay) {
        return notAReplay(path, report.message);
    }
    std::printf("%s: %s: %s\n", path.c_str(),
                report.ok ? (report.partial ? "verified, partial" : "verified") : "MISMATCH",
                report.message.c_str());
    return report.ok ? 0 : 1;
}

// JSON text that cannot fail: any invalid UTF-8 left in a string is replaced, not thrown on.
std::string jsonText(const nlohmann::json& j, int indent) {
    return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Whether a write failed for want of room.
bool noRoom(const nimbus::util::FileError& error) {
    return error.code == ENOSPC || error.code == EDQUOT;
}

// Writes the results whole; false (after saying why) when it could not. A disk too full for them
// gets the room of the partial replay, which is removed for it (and the results say so).
bool writeResults(const std::string& path, nimbus::arena::ResultsSummary summary,
                  const std::vector<nimbus::arena::ResultRow>& rows, const std::string& partial,
                  const nimbus::util::KeepWaiting& keepWaiting) {
    auto write = [&] {
        return nimbus::util::writeWhole(
            path, jsonText(nimbus::arena::resultsJson(summary, rows), 2) + "\n", keepWaiting);
    };
    nimbus::util::FileError error = write();
    nimbus::arena::ReplayRecord& replay = summary.replay;
    if (noRoom(error) && replay.path == partial && ::unlink(partial.c_str()) == 0) {
        fail("no room for the results (" + error.message + "): removed the partial replay " +
             partial);
        replay.problem += "; the partial replay was removed to make room for the results";
        replay.state = nimbus::arena::ReplayState::None;
        replay.path.clear();
        error = write();
    }
    if (error.failed()) {
        fail(error.message);
    }
    return !error.failed();
}

// With --sandbox: the limits into the options, and this process into a network of its own (the
// bots share it: they reach the arena and nothing else). Why it cannot be, or "".
std::string sandboxSetUp(ArenaOptions& options, const nimbus::util::SandboxOptions& chosen) {
    try {
        options.sandbox = nimbus::util::chosenSandbox(chosen);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    if (!options.sandbox) {
        return "";
    }
    if (options.players > static_cast<std::int32_t>(options.bots.size())) {
        return "--sandbox: no seats beyond the BOTs (--players): nothing outside a sandboxed "
               "game's network can reach it";
    }
    std::string why = nimbus::util::workDirProblem(fs::current_path().string());
    if (why.empty()) {
        why = nimbus::util::sandboxProblem();
    }
    if (why.empty()) {
        try {
            nimbus::util::enterOwnNetwork();
        } catch (const std::runtime_error& e) {
            why = std::string("--sandbox: ") + e.what();
        }
    }
    return why;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "nimbus-arena: a game server for the nimbus line protocol. Each BOT is a command line that "
        "the arena starts once it listens (it finds the port in NIMBUS_ARENA_PORT), or "
        "builtin:idle / builtin:greedy, an opponent the arena plays itself."};
    ArenaOptions options;
    std::string replayPath;
    std::string resultsPath;
    std::string verifyPath;
    std::string logDir;
    bool quiet = false;
    int port = 1986;
    app.add_option("BOT", options.bots, "bot command lines or builtin players");
    app.footer(kExitCodes);
    const CLI::Validator integer = numberCheck(false, true);
    const CLI::Validator real = numberCheck(true, false);
    app.add_option("--port", port, "TCP port on 127.0.0.1 (0: any free port)")
        ->check(integer)
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    auto* seedOption =
        app.add_option("--seed", options.seed, "seed of the game, 0 to 2^64 - 1 (default: random)")
            ->check(seedCheck());
    app.add_option("--ticks", options.ticks, "length of the game in ticks")
        ->check(integer)
        ->check(CLI::Range(1, 100000000))
        ->capture_default_str();
    app.add_option("--tick-ms", options.tickMs,
                   "milliseconds per tick while a client is connected (without one, the ticks run "
                   "as fast as they can)")
        ->check(integer)
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    app.add_option("--rainclouds", options.rainclouds, "number of rainclouds")
        ->check(integer)
        ->check(CLI::Range(0, 10000))
        ->capture_default_str();
    app.add_option("--players", options.players, "players to wait for (default: one per BOT)")
        ->check(integer)
        ->check(CLI::Range(1, 64));
    app.add_option("--lobby-seconds", options.lobbySeconds,
                   "the lobby's length: the game starts then with the players named so far, "
                   "even if not full (none: no game, exit 1)")
        ->check(real)
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    app.add_option("--replay", replayPath,
                   "write the replay to FILE while the game runs (gzip-compressed JSON lines; "
                   "FILE.partial until the game ends)");
    app.add_option("--results", resultsPath, "write the results as JSON to FILE");
    app.add_option("--log-dir", logDir,
                   "directory for the bot processes' logs (default: beside --results or "
                   "--replay, else the temporary directory)");
    app.add_flag("--quiet", quiet,
                 "no progress line and no informational log lines (--port 0's port line stays)");
    app.add_option("--verify", verifyPath,
                   "re-run a replay FILE and check every tick; exit 0 "
                   "only if all match");
    nimbus::util::SandboxOptions sandboxOptions;
    nimbus::util::addSandboxOptions(app, sandboxOptions);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "nimbus-arena: %s\n", e.what());
        return kExitUsage;
    }

    if (!verifyPath.empty()) {
        return verify(verifyPath);
    }
    options.port = static_cast<std::uint16_t>(port);
    if (options.bots.empty() && options.players == 0) {
        return fail("nothing to play: give at least one BOT or --players N");
    }
    if (options.players != 0 && options.players < static_cast<std::int32_t>(options.bots.size())) {
        return fail("--players " + std::to_string(options.players) + " is fewer than the " +
                    std::to_string(options.bots.size()) + " BOTs given");
    }
    for (const std::string& bot : options.bots) {
        if (nimbus::arena::looksBuiltin(bot) && !nimbus::arena::parseBuiltin(bot)) {
            return fail("unknown builtin player \"" + bot +
                        "\" (known: builtin:idle, builtin:greedy)");
        }
    }
    for (const std::string& path : {replayPath, resultsPath}) {
        if (path.empty()) {
            continue;
        }
        if (const std::string why = nimbus::arena::whyNotWritable(path); !why.empty()) {
            return fail("cannot write " + path + ": " + why);
        }
    }
    if (logDir.empty()) {
        const std::string beside = !resultsPath.empty() ? resultsPath : replayPath;
        logDir = beside.empty() ? fs::temp_directory_path().string()
                                : fs::absolute(beside).parent_path().string();
    }
    std::error_code ec;
    if (!fs::is_directory(logDir, ec)) {
        return fail("log directory " + logDir + " does not exist");
    }
    options.logDir = fs::absolute(logDir).string();
    if (const std::string why = sandboxSetUp(options, sandboxOptions); !why.empty()) {
        return fail(why);
    }
    if (seedOption->count() == 0) {
        std::random_device device;
        options.seed = (static_cast<std::uint64_t>(device()) << 32) | device();
        std::printf("seed %llu\n", static_cast<unsigned long long>(options.seed));
        std::fflush(stdout);
    }
    options.progress = !quiet && isatty(STDOUT_FILENO) != 0;
    options.replayPath = replayPath;

    asio::io_context io;
    std::unique_ptr<nimbus::arena::ArenaServer> server;
    try {
        server = std::make_unique<nimbus::arena::ArenaServer>(
            io, options, [quiet](const std::string& text, bool warning) {
                if (warning || !quiet) {
                    std::fprintf(stderr, "arena: %s\n", text.c_str());
                }
            });
    } catch (const std::system_error& e) {
        fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + e.code().message());
        return kExitCannotListen;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    if (port == 0) {
        // The port picked, for whoever started us, --quiet or not.
        std::printf("port %u\n", static_cast<unsigned>(server->port()));
        std::fflush(stdout);
    }
    // A file found at an output path after this run is this run's.
    const std::string partial = replayPath.empty() ? "" : nimbus::arena::partialPath(replayPath);
    for (const std::string& path : {replayPath, resultsPath}) {
        if (const std::string why = nimbus::arena::removeStale(path); !path.empty() && !why.empty()) {
            return fail(why);
        }
    }
    if (!partial.empty() && !nimbus::util::writtenInPlace(replayPath)) {
        if (const std::string why = nimbus::arena::clearForCreation(partial); !why.empty()) {
            return fail(why);
        }
    }
    server->start();
    io.run();
    // Interrupted games end with 128 + the signal, once what there is has been written (a signal
    // from here on is held until the files are written, then counted; a second one ends a wait
    // for a FIFO's reader).
    auto interrupted = [&server] {
        server->collectLateSignals();
        return server->interruptedBy() != 0 ? 128 + server->interruptedBy() : 0;
    };
    const nimbus::util::KeepWaiting untilSecondSignal = [&server] {
        server->collectLateSignals();
        return server->signalsReceived() < 2;
    };

    const nimbus::arena::Game* game = server->game();
    const auto rows = nimbus::arena::rankPlayers(game, server->resultPlayers());
    if (game == nullptr) {
        // Still written: the BOTs that never came are on record as absent.
        if (!resultsPath.empty()) {
            writeResults(resultsPath,
                         {options.seed, options.ticks, 0, options.tickMs, options.rainclouds,
                          server->endReason(), false, std::nullopt, options.sandbox,
                          server->replayRecord()},
                         rows, partial, untilSecondSignal);
        }
        std::fprintf(stderr, "nimbus-arena: no game was played (%s)\n",
                     server->endReason().c_str());
        const int code = interrupted();
        return code != 0 ? code : kExitNoGame;
    }
    std::printf("%s", nimbus::arena::resultsTable(rows).c_str());
    std::fflush(stdout);
    const nimbus::arena::ReplayRecord& replay = server->replayRecord();
    bool written = replayPath.empty() || replay.state == nimbus::arena::ReplayState::Whole;
    if (!written) {
        fail("the replay is not whole: " + replay.problem);
    }
    if (!resultsPath.empty()) {
        written = writeResults(resultsPath,
                               {options.seed, options.ticks, game->tick(), options.tickMs,
                                options.rainclouds, server->endReason(), true,
                                server->tickStats().pacing(), options.sandbox, replay},
                               rows, partial, untilSecondSignal) &&
                  written;
    }
    const int code = interrupted();
    return written ? code : 1;
}
