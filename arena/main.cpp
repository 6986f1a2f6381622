// nimbus-arena: a game server for the nimbus line protocol. Starts the bots it is given, plays
// builtin opponents itself, runs one game, prints the results, and writes the results and the
// replay as JSON. `--verify FILE` re-runs a replay instead and checks every tick.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "arena/game/builtin_player.hpp"
#include "arena/game/replay.hpp"
#include "arena/game/results.hpp"
#include "arena/server/arena_server.hpp"

namespace {

namespace fs = std::filesystem;
using nimbus::arena::ArenaOptions;

// Exit codes: 0 a game was played (or a replay verified), 1 no game / a mismatch,
// 2 bad options or files, 3 the port could not be bound.
constexpr int kExitCannotListen = 3;

int fail(const std::string& message) {
    std::fprintf(stderr, "nimbus-arena: %s\n", message.c_str());
    return 2;
}

// Opens a file for writing early, so a bad path is reported before anything starts.
bool writable(const std::string& path) {
    std::ofstream probe(path, std::ios::app);
    return static_cast<bool>(probe);
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

int verify(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return fail("cannot read " + path);
    }
    nlohmann::json replay;
    try {
        replay = nlohmann::json::parse(in);
    } catch (const std::exception& e) {
        std::printf("%s: not a replay (%s)\n", path.c_str(), e.what());
        return 1;
    }
    const nimbus::arena::VerifyReport report = nimbus::arena::verifyReplay(replay);
    std::printf("%s: %s: %s\n", path.c_str(), report.ok ? "verified" : "MISMATCH",
                report.message.c_str());
    return report.ok ? 0 : 1;
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
    app.add_option("--port", port, "TCP port on 127.0.0.1 (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    auto* seedOption = app.add_option("--seed", options.seed, "seed of the game (default: random)");
    app.add_option("--ticks", options.ticks, "length of the game in ticks")
        ->check(CLI::Range(1, 100000000))
        ->capture_default_str();
    app.add_option("--tick-ms", options.tickMs, "milliseconds per tick")
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    app.add_option("--rainclouds", options.rainclouds, "number of rainclouds")
        ->check(CLI::Range(0, 10000))
        ->capture_default_str();
    app.add_option("--players", options.players, "players to wait for (default: one per BOT)")
        ->check(CLI::Range(1, 64));
    app.add_option("--lobby-seconds", options.lobbySeconds,
                   "start this long after the first player named itself, even if not full")
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    app.add_option("--replay", replayPath, "write a JSON replay to FILE");
    app.add_option("--results", resultsPath, "write the results as JSON to FILE");
    app.add_option("--log-dir", logDir,
                   "directory for the bot processes' logs (default: beside --results or "
                   "--replay, else the temporary directory)");
    app.add_flag("--quiet", quiet, "no progress line and no informational log lines");
    app.add_option("--verify", verifyPath,
                   "re-run a replay FILE and check every tick; exit 0 "
                   "only if all match");
    CLI11_PARSE(app, argc, argv);

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
        if (!path.empty() && !writable(path)) {
            return fail("cannot write " + path);
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
    if (seedOption->count() == 0) {
        std::random_device device;
        options.seed = (static_cast<std::uint64_t>(device()) << 32) | device();
        std::printf("seed %llu\n", static_cast<unsigned long long>(options.seed));
        std::fflush(stdout);
    }
    options.progress = !quiet && isatty(STDOUT_FILENO) != 0;

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
    server->start();
    io.run();

    const nimbus::arena::Game* game = server->game();
    if (game == nullptr) {
        std::fprintf(stderr, "nimbus-arena: no game was played (%s)\n",
                     server->endReason().c_str());
        return 1;
    }
    const auto rows = nimbus::arena::rankPlayers(game, server->players());
    std::printf("%s", nimbus::arena::resultsTable(rows).c_str());
    std::fflush(stdout);
    int status = 0;
    if (!resultsPath.empty() &&
        !writeText(resultsPath, nimbus::arena::resultsJson(
                                    {options.seed, options.ticks, game->tick(), options.tickMs,
                                     options.rainclouds, server->endReason()},
                                    rows)
                                        .dump(2) +
                                    "\n")) {
        status = fail("cannot write " + resultsPath);
    }
    if (!replayPath.empty()) {
        const auto replay = server->recorder()->toJson(*game, server->players(), options.tickMs,
                                                       server->endReason());
        if (!writeText(replayPath, replay.dump())) {
            status = fail("cannot write " + replayPath);
        }
    }
    return status;
}
