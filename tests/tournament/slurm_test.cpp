// Tournaments through a real one-node Slurm cluster (scripts/slurm-local, brought up and down by
// CTest fixtures; SLURM_CONF names it). Root only, as the cluster's daemons need.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/run_process.hpp"

namespace {

namespace fs = std::filesystem;
using nimbus::testing::runProcess;

const std::string kTournament = NIMBUS_TOURNAMENT_PATH;
const std::string kBot = NIMBUS_BOT_PATH;
const std::string kSlurmLocal = NIMBUS_SLURM_LOCAL_PATH;

std::string slurped(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Slurm : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: scripts/slurm-local runs Slurm's daemons as root";
        }
        ASSERT_NE(std::getenv("SLURM_CONF"), nullptr) << "run through CTest: it brings Slurm up";
        dir_ = fs::path(::testing::TempDir()) /
               ("nimbus-slurm-" + std::string(::testing::UnitTest::GetInstance()
                                                  ->current_test_info()
                                                  ->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    fs::path dir_;
};

// Six games of three seats between the builtins, at 1 ms a tick.
std::vector<std::string> builtinTournament(const std::string& command, const fs::path& out) {
    return {command, "--games", "6", "--players", "3", "--ticks", "200", "--tick-ms", "1",
            "--seed", "5", "--out", out.string(), "builtin:greedy", "builtin:idle"};
}

TEST_F(Slurm, StandingsAreRunsAndAResubmissionPlaysOnlyTheMissingGame) {
    const fs::path out = dir_ / "slurm";
    std::vector<std::string> slurm = builtinTournament("slurm", out);
    slurm.insert(slurm.begin() + 1, {"--submit", "--time", "5:00"});
    const auto submitted = runProcess(kTournament, slurm, std::chrono::seconds(120));
    ASSERT_EQ(submitted.exitCode, 0) << submitted.output;
    EXPECT_NE(submitted.output.find("6 of 6 games played (6 now"), std::string::npos)
        << submitted.output;
    ASSERT_EQ(runProcess(kTournament, builtinTournament("run", dir_ / "run")).exitCode, 0);
    for (const char* file : {"standings.json", "standings.csv", "standings.md"}) {
        EXPECT_EQ(slurped(out / file), slurped(dir_ / "run" / file)) << file;
    }

    // Every task runs the line plan prints for its game.
    const auto plan = runProcess(kTournament, builtinTournament("plan", out));
    ASSERT_EQ(plan.exitCode, 0);
    std::istringstream planLines(plan.output);
    const std::string script = slurped(out / "tournament.sbatch");
    int n = 0;
    for (std::string line; std::getline(planLines, line);) {
        std::string task = "\n";
        task += std::to_string(++n) + ") " + line + " ;;\n";
        EXPECT_NE(script.find(task), std::string::npos) << task;
    }
    EXPECT_EQ(n, 6);
    // A task whose game is whole, submitted by hand, plays nothing.
    const auto task = runProcess("/bin/sh", {"-c", "SLURM_ARRAY_TASK_ID=2 exec sh " +
                                                       (out / "tournament.sbatch").string()});
    EXPECT_EQ(task.exitCode, 0);
    EXPECT_EQ(task.output, "game 2: already played\n");

    // One game lost: the resubmission plays it alone; one game that cannot be played is named.
    const fs::path kept = out / "games" / "1" / "results.json";
    const auto keptTime = fs::last_write_time(kept);
    fs::remove(out / "games" / "4" / "results.json");
    const auto resubmitted = runProcess(kTournament, slurm, std::chrono::seconds(120));
    ASSERT_EQ(resubmitted.exitCode, 0) << resubmitted.output;
    EXPECT_NE(resubmitted.output.find("5 already played, 1 to play"), std::string::npos);
    EXPECT_NE(resubmitted.output.find("--array=4 "), std::string::npos) << resubmitted.output;
    EXPECT_EQ(fs::last_write_time(kept), keptTime);
    EXPECT_EQ(slurped(out / "standings.json"), slurped(dir_ / "run" / "standings.json"));

    fs::remove_all(out / "games" / "3");
    std::ofstream(out / "games" / "3") << "a file where the game's folder belongs\n";
    const auto failed = runProcess(kTournament, slurm, std::chrono::seconds(120));
    EXPECT_EQ(failed.exitCode, 1) << failed.output;
    EXPECT_NE(failed.output.find("failed: game 3 "), std::string::npos) << failed.output;
    EXPECT_NE(slurped(out / "slurm" / "3.log").find("games/3"), std::string::npos);
}

TEST_F(Slurm, RealBotsPlayThroughSlurm) {
    const auto run = runProcess(
        kTournament,
        {"slurm", "--submit", "--games", "2", "--players", "2", "--ticks", "300", "--tick-ms", "16",
         "--out", (dir_ / "t").string(), kBot, "builtin:greedy"},
        std::chrono::seconds(120));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const nlohmann::json s = nlohmann::json::parse(slurped(dir_ / "t" / "standings.json"));
    ASSERT_EQ(s["games"], 2);
    for (const nlohmann::json& entrant : s["entrants"]) {
        EXPECT_EQ(entrant["games"], 2) << entrant;
        EXPECT_EQ(entrant["disconnects"], 0) << entrant;
    }
}

// An entrant that cannot start seats nobody: its games are not played, and it is flagged with the
// end of its log, as run flags it.
TEST_F(Slurm, AnEntrantThatNeverStartsIsFlagged) {
    const auto run = runProcess(
        kTournament,
        {"slurm", "--submit", "--games", "2", "--players", "1", "--lobby-seconds", "0.5", "--out",
         (dir_ / "t").string(), "pyhton3 bot.py"},
        std::chrono::seconds(120));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("game 1 failed (no game was played"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("warning: pyhton3 bot.py never connected in any of its 2 seats"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("pyhton3: not found"), std::string::npos) << run.output;
}

// Where a Slurm that scripts/slurm-local did not set up is configured, it changes nothing.
TEST_F(Slurm, TheLocalClusterRefusesAMachineWithASlurmOfItsOwn) {
    const fs::path conf = dir_ / "slurm.conf";
    std::ofstream(conf) << "ClusterName=theirs\n";
    const fs::path folder = dir_ / "local";
    const auto up = runProcess("/bin/sh", {"-c", "NIMBUS_SLURM_SYSTEM_CONF=" + conf.string() +
                                                     " NIMBUS_SLURM_DIR=" + folder.string() + " " +
                                                     kSlurmLocal + " up 2>&1"});
    EXPECT_EQ(up.exitCode, 1);
    EXPECT_NE(up.output.find("refusing: a Slurm is already set up"), std::string::npos)
        << up.output;
    EXPECT_EQ(slurped(conf), "ClusterName=theirs\n");
    EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
