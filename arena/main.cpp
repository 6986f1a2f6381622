// nimbus-arena: a game server for the nimbus line protocol. Starts the bots it is given, plays
// builtin opponents itself, runs one game while it streams the replay to its file, prints the
// results and writes them as JSON. `--verify FILE` re-runs a replay instead and checks every tick.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "arena/command_line.hpp"
#include "arena/game/results.hpp"
#include "arena/replay/verify.hpp"
#include "arena/server/arena_server.hpp"
#include "arena/server/output_file.hpp"
#include "util/sandbox_settings.hpp"
#include "util/whole_file.hpp"

namespace {

namespace fs = std::filesystem;
using nimbus::arena::ArenaOptions;
using nimbus::arena::CommandLine;
using nimbus::arena::kExitCannotListen;
using nimbus::arena::kExitNoGame;
using nimbus::arena::kExitUsage;

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

// A random seed unless one was given; said on stdout, so that the game can be played again.
void pickSeed(CommandLine& line) {
    if (line.seedGiven) {
        return;
    }
    std::random_device device;
    line.options.seed = (static_cast<std::uint64_t>(device()) << 32) | device();
    std::printf("seed %llu\n", static_cast<unsigned long long>(line.options.seed));
    std::fflush(stdout);
}

// The server, listening; nullptr after saying why it cannot (exitCode set).
std::unique_ptr<nimbus::arena::ArenaServer> startServer(asio::io_context& io,
                                                        const CommandLine& line, int& exitCode) {
    const bool quiet = line.quiet;
    std::unique_ptr<nimbus::arena::ArenaServer> server;
    try {
        server = std::make_unique<nimbus::arena::ArenaServer>(
            io, line.options, [quiet](const std::string& text, bool warning) {
                if (warning || !quiet) {
                    std::fprintf(stderr, "arena: %s\n", text.c_str());
                }
            });
    } catch (const std::system_error& e) {
        fail("cannot listen on 127.0.0.1:" + std::to_string(line.port) + ": " + e.code().message());
        exitCode = kExitCannotListen;
        return nullptr;
    } catch (const std::exception& e) {
        exitCode = fail(e.what());
        return nullptr;
    }
    if (line.port == 0) {
        // The port picked, for whoever started us, --quiet or not.
        std::printf("port %u\n", static_cast<unsigned>(server->port()));
        std::fflush(stdout);
    }
    return server;
}

// A file found at an output path after this run is this run's: earlier ones are removed, and
// the place of FILE.partial made ready. Why not, or "".
std::string clearOutputs(const CommandLine& line, const std::string& partial) {
    for (const std::string& path : {line.replayPath, line.resultsPath}) {
        if (const std::string why = nimbus::arena::removeStale(path);
            !path.empty() && !why.empty()) {
            return why;
        }
    }
    if (!partial.empty() && !nimbus::util::writtenInPlace(line.replayPath)) {
        return nimbus::arena::clearForCreation(partial);
    }
    return "";
}

// After the game: the table on stdout and the results written. Interrupted games end with 128 +
// the signal, once what there is has been written (a signal from here on is held until the
// files are written, then counted; a second one ends a wait for a FIFO's reader).
int finishGame(nimbus::arena::ArenaServer& server, const CommandLine& line,
               const std::string& partial) {
    auto interrupted = [&server] {
        server.collectLateSignals();
        return server.interruptedBy() != 0 ? 128 + server.interruptedBy() : 0;
    };
    const nimbus::util::KeepWaiting untilSecondSignal = [&server] {
        server.collectLateSignals();
        return server.signalsReceived() < 2;
    };
    const ArenaOptions& options = line.options;
    const nimbus::arena::Game* game = server.game();
    const auto rows = nimbus::arena::rankPlayers(game, server.resultPlayers());
    if (game == nullptr) {
        // Still written: the BOTs that never came are on record as absent.
        if (!line.resultsPath.empty()) {
            writeResults(
                line.resultsPath,
                {options.seed, options.ticks, 0, options.tickMs, options.rainclouds,
                 server.endReason(), false, std::nullopt, options.sandbox, server.replayRecord()},
                rows, partial, untilSecondSignal);
        }
        std::fprintf(stderr, "nimbus-arena: no game was played (%s)\n", server.endReason().c_str());
        const int code = interrupted();
        return code != 0 ? code : kExitNoGame;
    }
    std::printf("%s", nimbus::arena::resultsTable(rows).c_str());
    std::fflush(stdout);
    const nimbus::arena::ReplayRecord& replay = server.replayRecord();
    bool written = line.replayPath.empty() || replay.state == nimbus::arena::ReplayState::Whole;
    if (!written) {
        fail("the replay is not whole: " + replay.problem);
    }
    if (!line.resultsPath.empty()) {
        written = writeResults(line.resultsPath,
                               {options.seed, options.ticks, game->tick(), options.tickMs,
                                options.rainclouds, server.endReason(), true,
                                server.tickStats().pacing(), options.sandbox, replay},
                               rows, partial, untilSecondSignal) &&
                  written;
    }
    const int code = interrupted();
    return written ? code : 1;
}

// One game, from listening to the results written; the exit code.
int playGame(CommandLine& line) {
    line.options.progress = !line.quiet && isatty(STDOUT_FILENO) != 0;
    line.options.replayPath = line.replayPath;
    asio::io_context io;
    int exitCode = 0;
    const auto server = startServer(io, line, exitCode);
    if (server == nullptr) {
        return exitCode;
    }
    const std::string partial =
        line.replayPath.empty() ? "" : nimbus::arena::partialPath(line.replayPath);
    if (const std::string why = clearOutputs(line, partial); !why.empty()) {
        return fail(why);
    }
    server->start();
    io.run();
    return finishGame(*server, line, partial);
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (const auto code = nimbus::arena::parseCommandLine(argc, argv, line)) {
        return *code;
    }
    if (!line.verifyPath.empty()) {
        return verify(line.verifyPath);
    }
    if (const std::string why = nimbus::arena::checkGameOptions(line); !why.empty()) {
        return fail(why);
    }
    if (const std::string why = sandboxSetUp(line.options, line.sandbox); !why.empty()) {
        return fail(why);
    }
    pickSeed(line);
    return playGame(line);
}
