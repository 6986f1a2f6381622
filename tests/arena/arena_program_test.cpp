// nimbus-arena as a program: files are whole or absent (a replay cut short stays as .partial),
// interrupted games say so, a failed write is a failure, and --verify tells a file it cannot trust
// from a real divergence.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/run_process.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nimbus::testing::runProcess;

const std::string kArena = NIMBUS_ARENA_PATH;

std::string folder(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("arena-program-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

// Starts the arena with these arguments; its output goes nowhere.
pid_t spawnArena(std::vector<std::string> args) {
    args.insert(args.begin(), {kArena, "--port", "0", "--quiet"});
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, kArena.c_str(), &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// Starts the arena waiting in its lobby for a third player that never comes.
pid_t startArena(const std::string& dir) {
    const pid_t pid = spawnArena({"--seed", "5", "--ticks", "100000", "--tick-ms", "5",
                                  "--results", dir + "/results.json", "--replay",
                                  dir + "/game.replay.jsonl.gz", "--players", "3",
                                  "--lobby-seconds", "30", "builtin:greedy", "builtin:idle"});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // in the lobby by then
    return pid;
}

// The exit code, or 1000 + the signal that ended the process.
int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// The exit code as waitFor, or -1 (after killing it) when the process has not ended by then.
int waitAtMost(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

nlohmann::json resultsIn(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

TEST(ArenaProgram, AnInterruptedGameWritesWholeFilesSayingSoAndExits128PlusTheSignal) {
    for (const int sig : {SIGINT, SIGTERM}) {
        const std::string dir = folder("signal" + std::to_string(sig));
        const pid_t arena = startArena(dir);
        EXPECT_TRUE(filesIn(dir).empty());  // nothing is created before there is something whole
        ::kill(arena, sig);
        EXPECT_EQ(waitFor(arena), 128 + sig);
        std::ifstream in(dir + "/results.json");
        const nlohmann::json results = nlohmann::json::parse(in);
        EXPECT_EQ(results["end_reason"], "interrupted");
        EXPECT_EQ(filesIn(dir).size(), 1u);  // no temporary file left behind, no replay of no game
    }
}

TEST(ArenaProgram, AKilledGameLeavesNoFileAndNoEarlierGamesFile) {
    const std::string dir = folder("killed");
    std::ofstream(dir + "/game.replay.jsonl.gz") << "{\"an earlier\": \"game\"}";
    std::ofstream(dir + "/game.replay.jsonl.gz.partial") << "{\"an earlier\": \"game\"}";
    const pid_t arena = startArena(dir);
    ::kill(arena, SIGKILL);
    EXPECT_EQ(waitFor(arena), 1000 + SIGKILL);
    EXPECT_TRUE(filesIn(dir).empty());
}

TEST(ArenaProgram, AWriteThatFailsIsAFailure) {
    const std::string dir = folder("full");
    const auto full = runProcess(kArena, {"--port", "0", "--ticks", "20", "--tick-ms", "1",
                                          "--quiet", "--results", "/dev/full", "--replay",
                                          dir + "/game.replay.jsonl.gz", "builtin:idle"});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(runProcess(kArena, {"--verify", dir + "/game.replay.jsonl.gz"}).exitCode, 0);
    EXPECT_EQ(runProcess(kArena, {"--port", "0", "--ticks", "20", "--quiet", "--replay",
                                  "/dev/full", "builtin:idle"})
                  .exitCode,
              1);
    const auto nowhere = runProcess(kArena, {"--port", "0", "--ticks", "20", "--quiet", "--replay",
                                             dir + "/no/such/folder/replay.json", "builtin:idle"});
    EXPECT_EQ(nowhere.exitCode, 2);
}

TEST(ArenaProgram, VerifyTellsAFileItCannotTrustFromADivergence) {
    const std::string dir = folder("verify");
    const std::string v1 = NIMBUS_TEST_DATA "/version1-replay.json";
    std::ifstream in(v1);
    const nlohmann::json replay = nlohmann::json::parse(in);
    auto verifyEdited = [&](const char* at, const nlohmann::json& value) {
        nlohmann::json edited = replay;
        edited[nlohmann::json::json_pointer(at)] = value;
        std::ofstream(dir + "/edited.json") << edited.dump();
        return runProcess(kArena, {"--verify", dir + "/edited.json"}).exitCode;
    };
    EXPECT_EQ(runProcess(kArena, {"--verify", v1}).exitCode, 0);  // today's arena's replays
    EXPECT_EQ(verifyEdited("/settings/players", 2147483647), 2);
    EXPECT_EQ(verifyEdited("/frames/7/0/3", 1.5), 1);  // a real divergence: MISMATCH
    std::ofstream(dir + "/garbage.json") << "{\"frames\": [1, 2";
    EXPECT_EQ(runProcess(kArena, {"--verify", dir + "/garbage.json"}).exitCode, 2);
    EXPECT_EQ(runProcess(kArena, {"--verify", dir + "/missing.json"}).exitCode, 2);
}

// A long game stopped from outside: SIGTERM writes a whole replay of the interrupted game at
// once; SIGKILL leaves no replay at its path, but its .partial file verifies up to its cut.
TEST(ArenaProgram, ALongGameStoppedFromOutsideKeepsItsReplay) {
    for (const int sig : {SIGTERM, SIGKILL}) {
        const std::string dir = folder("long" + std::to_string(sig));
        const std::string replay = dir + "/game.replay.jsonl.gz";
        const pid_t arena = spawnArena({"--seed", "3", "--ticks", "100000000", "--rainclouds",
                                        "10", "--replay", replay, "builtin:idle", "builtin:idle"});
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const auto sent = std::chrono::steady_clock::now();
        ::kill(arena, sig);
        EXPECT_EQ(waitFor(arena), sig == SIGKILL ? 1000 + sig : 128 + sig);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));
        const auto names = filesIn(dir);
        ASSERT_EQ(names.size(), 1u);
        const std::string left = dir + "/" + names[0];
        EXPECT_EQ(left, sig == SIGKILL ? replay + ".partial" : replay);
        const auto verified = runProcess(kArena, {"--verify", left});
        EXPECT_EQ(verified.exitCode, 0) << verified.output;
        EXPECT_EQ(verified.output.find(": verified, partial: ticks 0 to ") != std::string::npos,
                  sig == SIGKILL)
            << verified.output;
    }
}

// A signal that comes while the arena writes its files after a game that ran to its end (here
// held there by a FIFO nobody reads yet): both files are written whole all the same.
TEST(ArenaProgram, ASignalDuringTheFinalWritesLetsThemFinish) {
    for (const int sig : {SIGINT, SIGTERM}) {
        const std::string dir = folder("final" + std::to_string(sig));
        const std::string replay = dir + "/game.replay.jsonl.gz";
        const std::string fifo = dir + "/results.json";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const pid_t arena = spawnArena({"--seed", "3", "--ticks", "3000", "--replay", replay,
                                        "--results", fifo, "builtin:greedy", "builtin:idle"});
        for (int i = 0; i < 600 && !fs::exists(replay); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // at the results by then
        ::kill(arena, sig);
        std::ifstream in(fifo);
        const nlohmann::json results = nlohmann::json::parse(in, nullptr, false);
        EXPECT_EQ(waitFor(arena), 128 + sig);
        ASSERT_TRUE(results.is_object());
        EXPECT_EQ(results["end_reason"], "ticks");
        const auto verified = runProcess(kArena, {"--verify", replay});
        EXPECT_EQ(verified.exitCode, 0);
        EXPECT_NE(verified.output.find("verified: all 3000 ticks match"), std::string::npos)
            << verified.output;
    }
}

// Links planted where the arena creates its files (its .partial replay, its results' temporary
// file) are never followed: the files they point at stay as they were.
TEST(ArenaProgram, LinksPlantedAtTheNamesItCreatesAreNotFollowed) {
    const std::string dir = folder("links");
    const std::string replay = dir + "/g.replay.jsonl.gz";
    auto plant = [&](const std::string& at, const std::string& victim) {
        std::ofstream(dir + "/" + victim) << "precious";
        fs::create_symlink(victim, at);
    };
    plant(replay + ".partial", "victim1");  // there before the start: refused at once
    EXPECT_EQ(runProcess(kArena, {"--port", "0", "--quiet", "--ticks", "20", "--replay", replay,
                                  "builtin:idle"})
                  .exitCode,
              2);
    fs::remove(replay + ".partial");
    // Planted while the arena waits in its lobby: at the replay's name and at the name the
    // results' temporary file had (dot, name, pid).
    const pid_t arena = spawnArena({"--ticks", "20", "--players", "3", "--lobby-seconds", "2",
                                    "--replay", replay, "--results", dir + "/results.json",
                                    "builtin:idle", "builtin:idle"});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // in the lobby by then
    plant(replay + ".partial", "victim2");
    plant(dir + "/.results.json." + std::to_string(arena) + ".tmp", "victim3");
    EXPECT_EQ(waitAtMost(arena, std::chrono::seconds(30)), 1);  // a game without its replay
    for (const char* victim : {"victim1", "victim2", "victim3"}) {
        EXPECT_EQ(contents(dir + "/" + victim), "precious") << victim;
    }
    EXPECT_FALSE(fs::exists(replay));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir + "/results.json")));
    const nlohmann::json results = resultsIn(dir + "/results.json");
    ASSERT_TRUE(results.is_object());
    EXPECT_EQ(results["replay"]["problem"],
              "cannot create " + replay + ".partial: File exists");
}

// A FIFO nobody reads holds the arena in open(): at the start for the replay (one signal ends the
// wait, and the game), at the end for the results (the first signal is held while the files are
// finished, a second one ends the wait). Either way the arena ends, writing what it can.
TEST(ArenaProgram, ASignalEndsAWaitForAFifosReader) {
    for (const int signals : {1, 2}) {
        const std::string dir = folder("fifo" + std::to_string(signals));
        const std::string replay = dir + "/g.replay.jsonl.gz";
        const std::string results = dir + "/results.json";
        const std::string fifo = signals == 1 ? replay : results;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const pid_t arena = spawnArena({"--seed", "3", "--ticks", "200", "--replay", replay,
                                        "--results", results, "builtin:greedy", "builtin:idle"});
        for (int i = 0; i < signals; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            ::kill(arena, SIGTERM);
        }
        EXPECT_EQ(waitAtMost(arena, std::chrono::seconds(20)), 1) << signals << " signals";
        if (signals == 1) {
            const nlohmann::json written = resultsIn(results);
            ASSERT_TRUE(written.is_object());
            EXPECT_EQ(written["end_reason"], "interrupted");
            EXPECT_EQ(written["replay"]["problem"],
                      "cannot open " + replay + ": interrupted while it waited for a reader");
        } else {
            EXPECT_EQ(runProcess(kArena, {"--verify", replay}).exitCode, 0);
        }
    }
}

// A disk that fills up during the game: the arena says so at once, the game goes on, and the
// results are written all the same, saying what became of the replay: its .partial file, cut back
// to its last whole piece (a readable partial replay), or removed when the results needed its room.
// Needs a filesystem of 1 MiB: root mounts one in a mount namespace of the test's own.
TEST(ArenaProgram, AFullDiskKeepsTheResults) {
    const std::string dir = folder("disk");
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a small filesystem needs root to mount";
    }
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a small filesystem here: " << std::strerror(errno);
    }
    const std::string replay = dir + "/g.replay.jsonl.gz";
    const auto run = runProcess(kArena, {"--port", "0", "--quiet", "--seed", "3", "--ticks",
                                         "20000", "--replay", replay, "--results",
                                         dir + "/results.json", "builtin:idle", "builtin:idle"});
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json results = resultsIn(dir + "/results.json");
    ASSERT_TRUE(results.is_object()) << "no results";
    EXPECT_EQ(results["end_reason"], "ticks");
    const nlohmann::json& written = results["replay"];
    EXPECT_NE(written["problem"].get<std::string>().find("No space left on device"),
              std::string::npos)
        << written;
    const std::vector<std::string> kept = filesIn(dir);
    if (written["state"] == "none") {
        EXPECT_EQ(kept, std::vector<std::string>{"results.json"});
    } else {
        EXPECT_EQ(written["state"], "partial");
        EXPECT_EQ(kept.size(), 2u);
        const auto verified = runProcess(kArena, {"--verify", replay + ".partial"});
        EXPECT_EQ(verified.exitCode, 0) << verified.output;
        EXPECT_NE(verified.output.find("verified, partial"), std::string::npos) << verified.output;
    }
    ::umount2(dir.c_str(), MNT_DETACH);
}

}  // namespace
