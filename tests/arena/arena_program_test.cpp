// nimbus-arena as a program: files are whole or absent, interrupted games say so, a failed write
// is a failure, and --verify tells a file it cannot trust from a real divergence.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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

// Starts the arena waiting in its lobby for a third player that never comes; output goes nowhere.
pid_t startArena(const std::string& dir) {
    std::vector<std::string> args = {kArena,        "--port",    "0",
                                     "--seed",      "5",         "--ticks",
                                     "100000",      "--tick-ms", "5",
                                     "--quiet",     "--results", dir + "/results.json",
                                     "--replay",    dir + "/replay.json", "--players",
                                     "3",           "--lobby-seconds", "30",
                                     "builtin:greedy", "builtin:idle"};
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
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // in the lobby by then
    return pid;
}

// The exit code, or 1000 + the signal that ended the process.
int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
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
    std::ofstream(dir + "/replay.json") << "{\"an earlier\": \"game\"}";
    const pid_t arena = startArena(dir);
    ::kill(arena, SIGKILL);
    EXPECT_EQ(waitFor(arena), 1000 + SIGKILL);
    EXPECT_TRUE(filesIn(dir).empty());
}

TEST(ArenaProgram, AWriteThatFailsIsAFailure) {
    const std::string dir = folder("full");
    const auto full = runProcess(kArena, {"--port", "0", "--ticks", "20", "--tick-ms", "1",
                                          "--quiet", "--results", "/dev/full", "--replay",
                                          dir + "/replay.json", "builtin:idle"});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(runProcess(kArena, {"--verify", dir + "/replay.json"}).exitCode, 0);
    const auto nowhere = runProcess(kArena, {"--port", "0", "--ticks", "20", "--quiet", "--replay",
                                             dir + "/no/such/folder/replay.json", "builtin:idle"});
    EXPECT_EQ(nowhere.exitCode, 2);
}

TEST(ArenaProgram, VerifyTellsAFileItCannotTrustFromADivergence) {
    const std::string dir = folder("verify");
    ASSERT_EQ(runProcess(kArena, {"--port", "0", "--ticks", "30", "--tick-ms", "1", "--quiet",
                                  "--replay", dir + "/replay.json", "builtin:greedy",
                                  "builtin:greedy"})
                  .exitCode,
              0);
    std::ifstream in(dir + "/replay.json");
    const nlohmann::json replay = nlohmann::json::parse(in);
    auto verifyEdited = [&](const char* at, const nlohmann::json& value) {
        nlohmann::json edited = replay;
        edited[nlohmann::json::json_pointer(at)] = value;
        std::ofstream(dir + "/edited.json") << edited.dump();
        return runProcess(kArena, {"--verify", dir + "/edited.json"}).exitCode;
    };
    EXPECT_EQ(verifyEdited("/settings/players", 2147483647), 2);
    EXPECT_EQ(verifyEdited("/settings/players", 200000000), 2);
    EXPECT_EQ(verifyEdited("/frames/7/0/3", 1.5), 1);  // a real divergence: MISMATCH
    std::ofstream(dir + "/garbage.json") << "{\"frames\": [1, 2";
    EXPECT_EQ(runProcess(kArena, {"--verify", dir + "/garbage.json"}).exitCode, 2);
}

}  // namespace
