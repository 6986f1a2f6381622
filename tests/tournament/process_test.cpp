// The processes of a tournament: the runner stops in order on SIGHUP and when its standard output
// goes away, a second Ctrl-C kills its games at once, its memory does not grow with --games, and
// the bots an arena starts die with it however it ends (SIGKILL included).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_process.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kTournament = NIMBUS_TOURNAMENT_PATH;
const std::string kArena = NIMBUS_ARENA_PATH;

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Starts argv with its output into `log`; returns the pid.
pid_t start(const std::vector<std::string>& argv, const fs::path& log) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Waits until `done` holds, at most `limit`.
template <typename Done>
bool waitFor(Done done, std::chrono::milliseconds limit = 20s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Gone, or a zombie waiting for init to reap it.
bool dead(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || text.substr(close + 2, 1) == "Z";
}

pid_t pidIn(const fs::path& file) {
    pid_t pid = 0;
    std::ifstream(file) >> pid;
    return pid;
}

std::vector<std::string> runArgs(const fs::path& out, const std::string& games,
                                 const std::string& ticks) {
    return {kTournament, "run",      "--games", games,          "--players",      "2",
            "--ticks",   ticks,      "--tick-ms", "1",          "--out",          out.string(),
            "builtin:greedy", "builtin:idle"};
}

TEST(Processes, TheRunnerStopsInOrderOnHangUpOrAClosedOutputAndKillsAtOnceOnASecondSignal) {
    const fs::path dir = freshDir("nimbus-tournament-processes");

    // Standard output closed under it: stopped as by SIGTERM, the standings written.
    std::string line = "'" + kTournament + "'";
    for (const std::string& a : runArgs(dir / "pipe", "6", "3000")) {
        line += a == kTournament ? "" : " '" + a + "'";
    }
    const auto piped =
        nimbus::testing::runProcess("/bin/bash", {"-c", line + " | head -1; exit ${PIPESTATUS[0]}"});
    EXPECT_EQ(piped.exitCode, 128 + SIGPIPE) << piped.output;
    EXPECT_TRUE(fs::exists(dir / "pipe" / "standings.json"));

    // SIGHUP: likewise.
    const pid_t hungUp = start(runArgs(dir / "hup", "6", "100000"), dir / "hup.log");
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir / "hup" / "games" / "1" / "game.json"); }));
    ::kill(hungUp, SIGHUP);
    EXPECT_EQ(exitStatus(hungUp), 128 + SIGHUP);
    EXPECT_TRUE(fs::exists(dir / "hup" / "standings.json"));

    // An arena that will not stop: the first Ctrl-C would wait 15 s for it, the second kills it.
    // Planned: ten million games, which must not cost memory before the first one starts.
    const fs::path stubborn = dir / "stubborn-arena";
    std::ofstream(stubborn) << "#!/bin/sh\ntrap '' TERM\nexec sleep 60\n";
    fs::permissions(stubborn, fs::perms::owner_all);
    std::vector<std::string> args = runArgs(dir / "stubborn", "10000000", "100");
    args.insert(args.begin() + 2, {"--arena", stubborn.string(), "--parallel", "1"});
    const pid_t run = start(args, dir / "stubborn.log");
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir / "stubborn" / "games" / "1" / "arena.log"); }));
    std::ifstream status("/proc/" + std::to_string(run) + "/status");
    std::string field;
    long peakKiB = 0;
    while (status >> field && field != "VmHWM:") {
    }
    status >> peakKiB;
    EXPECT_LT(peakKiB, 150 * 1024) << "peak memory before the first of ten million games";
    const auto interrupted = Clock::now();
    ::kill(run, SIGINT);
    std::this_thread::sleep_for(300ms);
    ::kill(run, SIGINT);
    EXPECT_EQ(exitStatus(run), 128 + SIGINT);
    EXPECT_LT(Clock::now() - interrupted, 10s);
    EXPECT_TRUE(fs::exists(dir / "stubborn" / "standings.json"));
}

TEST(Processes, BotsDieWithTheirArenaHoweverItEnds) {
    const fs::path dir = freshDir("nimbus-arena-bot-processes");
    // A bot that leaves a process of its own behind and never names itself.
    const auto bot = [&](const std::string& name, const std::string& tail) {
        return "sleep 300 & echo $! > " + (dir / name).string() + tail;
    };

    // The arena ends normally (nobody named itself: no game) after the bot's shell has exited.
    const auto ended =
        nimbus::testing::runProcess(kArena, {"--port", "0", "--quiet", "--lobby-seconds", "1",
                                             "--log-dir", dir.string(), bot("ended", "")});
    EXPECT_EQ(ended.exitCode, 1);
    const pid_t left = pidIn(dir / "ended");
    ASSERT_GT(left, 0);
    EXPECT_TRUE(waitFor([&] { return dead(left); }, 5s)) << "pid " << left;
    if (!dead(left)) {
        ::kill(left, SIGKILL);
    }

    // The arena is killed outright.
    const pid_t arena = start({kArena, "--port", "0", "--quiet", "--lobby-seconds", "60",
                               "--log-dir", dir.string(), bot("killed", "; wait")},
                              dir / "arena.log");
    ASSERT_TRUE(waitFor([&] { return pidIn(dir / "killed") > 0; }));
    const pid_t orphan = pidIn(dir / "killed");
    ::kill(arena, SIGKILL);
    EXPECT_EQ(exitStatus(arena), 128 + SIGKILL);
    EXPECT_TRUE(waitFor([&] { return dead(orphan); }, 5s)) << "pid " << orphan;
    if (!dead(orphan)) {
        ::kill(orphan, SIGKILL);
    }
}

}  // namespace
