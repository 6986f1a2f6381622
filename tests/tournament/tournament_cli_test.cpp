// Whole tournaments of builtin players through the real programs: run, plan + GNU parallel +
// standings, and a resumed run, all at 1 ms a tick on free ports.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/run_process.hpp"

namespace {

namespace fs = std::filesystem;
using nimbus::testing::runProcess;

const std::string kTournament = NIMBUS_TOURNAMENT_PATH;

// Four games of three seats between the two builtins: a round is two games, so two seeds, and
// each game seats one of them twice.
std::vector<std::string> tournamentArgs(const std::string& command, const fs::path& out) {
    return {command, "--games", "4", "--players", "3", "--ticks", "200", "--tick-ms", "1",
            "--seed", "11", "--out", out.string(), "builtin:greedy", "builtin:idle"};
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void expectWholeStandings(const fs::path& dir) {
    const nlohmann::json s = nlohmann::json::parse(readFile(dir / "standings.json"));
    EXPECT_EQ(s["games"], 4);
    ASSERT_EQ(s["entrants"].size(), 2u);
    EXPECT_EQ(s["entrants"][0]["games"].get<int>() + s["entrants"][1]["games"].get<int>(), 12);
    EXPECT_EQ(s["entrants"][0]["wins"].get<int>() + s["entrants"][1]["wins"].get<int>(), 4);
}

TEST(TournamentCli, RunAndPlanThroughGnuParallelGiveTheSameStandings) {
    ASSERT_EQ(runProcess("/bin/sh", {"-c", "command -v parallel"}).exitCode, 0)
        << "GNU parallel is missing: run scripts/setup";
    const fs::path dir = freshDir("nimbus-tournament-same");

    std::vector<std::string> run = tournamentArgs("run", dir / "run");
    run.insert(run.begin() + 1, {"--parallel", "2"});
    ASSERT_EQ(runProcess(kTournament, run).exitCode, 0);
    expectWholeStandings(dir / "run");

    const auto plan = runProcess(kTournament, tournamentArgs("plan", dir / "plan"));
    ASSERT_EQ(plan.exitCode, 0);
    std::ofstream(dir / "jobs.txt") << plan.output;
    EXPECT_EQ(std::count(plan.output.begin(), plan.output.end(), '\n'), 4);
    const std::string jobs = (dir / "jobs.txt").string();
    ASSERT_EQ(runProcess("/bin/sh", {"-c", "parallel --will-cite -j 2 < '" + jobs + "'"}).exitCode,
              0);
    ASSERT_EQ(runProcess(kTournament, {"standings", (dir / "plan").string()}).exitCode, 0);

    EXPECT_EQ(readFile(dir / "plan" / "standings.json"), readFile(dir / "run" / "standings.json"));
    EXPECT_EQ(readFile(dir / "plan" / "standings.csv"), readFile(dir / "run" / "standings.csv"));
    // The same games, seat for seat.
    for (int n = 1; n <= 4; ++n) {
        const fs::path game = fs::path("games") / std::to_string(n) / "results.json";
        EXPECT_EQ(readFile(dir / "plan" / game), readFile(dir / "run" / game)) << game;
    }
}

TEST(TournamentCli, ResumingPlaysOnlyTheMissingOrBrokenGames) {
    const fs::path dir = freshDir("nimbus-tournament-resume");
    const std::vector<std::string> args = tournamentArgs("run", dir);
    ASSERT_EQ(runProcess(kTournament, args).exitCode, 0);
    const std::string standings = readFile(dir / "standings.json");
    const fs::path kept = dir / "games" / "3" / "results.json";
    const auto keptTime = fs::last_write_time(kept);

    // Half of the tournament lost: one results file gone, one cut short.
    fs::remove(dir / "games" / "2" / "results.json");
    const fs::path cut = dir / "games" / "4" / "results.json";
    const std::string whole = readFile(cut);
    std::ofstream(cut, std::ios::trunc) << whole.substr(0, whole.size() / 2);

    const auto resumed = runProcess(kTournament, args);
    ASSERT_EQ(resumed.exitCode, 0);
    EXPECT_NE(resumed.output.find("2 already played, 2 to play"), std::string::npos)
        << resumed.output;
    EXPECT_EQ(readFile(cut), whole);
    EXPECT_EQ(fs::last_write_time(kept), keptTime);
    EXPECT_EQ(readFile(dir / "standings.json"), standings);

    // Another tournament is refused in this folder; more games of this one are welcome.
    std::vector<std::string> other = args;
    other[4] = "2";  // --players
    EXPECT_EQ(runProcess(kTournament, other).exitCode, 2);
    std::vector<std::string> longer = args;
    longer[2] = "5";  // --games
    const auto extended = runProcess(kTournament, longer);
    EXPECT_EQ(extended.exitCode, 0);
    EXPECT_NE(extended.output.find("4 already played, 1 to play"), std::string::npos);
}

// A bot that names itself and leaves once the game starts is disconnected in both its games: the
// games still finish, it is ranked below the builtin, and its seats count as disconnects.
TEST(TournamentCli, ABotThatLeavesIsRankedLastAndCountedAsDisconnected) {
    const fs::path dir = freshDir("nimbus-tournament-leaves");
    const std::string leaver =
        "bash -c 'exec 3<>/dev/tcp/127.0.0.1/$NIMBUS_ARENA_PORT; echo NAME leaver >&3; "
        "read -t 20 reply <&3'";
    const auto run = runProcess(kTournament, {"run", "--games", "2", "--players", "2", "--ticks",
                                              "100", "--tick-ms", "1", "--out", dir.string(),
                                              "builtin:greedy", leaver});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const nlohmann::json s = nlohmann::json::parse(readFile(dir / "standings.json"));
    ASSERT_EQ(s["entrants"].size(), 2u);
    const nlohmann::json& last = s["entrants"][1];
    EXPECT_EQ(last["entrant"], leaver);
    EXPECT_EQ(last["games"], 2);
    EXPECT_EQ(last["disconnects"], 2);
    EXPECT_EQ(last["mean_rank"], 2.0);
    EXPECT_EQ(s["entrants"][0]["wins"], 2);
}

}  // namespace
