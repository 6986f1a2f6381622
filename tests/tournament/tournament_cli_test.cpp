// Whole tournaments of builtin players through the real programs: run, plan + GNU parallel +
// standings, a resumed run, a folder's identity and lock, and entrants that never play, all at
// 1 ms a tick on free ports.
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

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

// The tournament program through the shell, standard error with standard output.
nimbus::testing::ProcessResult tournament(const std::vector<std::string>& args) {
    std::string line = "'" + kTournament + "'";
    for (const std::string& a : args) {
        std::string quoted = "'";
        for (char c : a) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        line += " " + quoted + "'";
    }
    return runProcess("/bin/sh", {"-c", line + " 2>&1"});
}

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
    longer[2] = "6";  // --games
    // A game that cannot be started fails alone: the others are played and counted.
    std::ofstream(dir / "games" / "5") << "a file where the game's folder belongs\n";
    const auto extended = runProcess(kTournament, longer);
    EXPECT_EQ(extended.exitCode, 1);
    EXPECT_NE(extended.output.find("4 already played, 2 to play"), std::string::npos);
    EXPECT_NE(extended.output.find("game 5 failed (cannot start it"), std::string::npos)
        << extended.output;
    EXPECT_EQ(nlohmann::json::parse(readFile(dir / "standings.json"))["games"], 5);
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

// A folder holds one tournament, used by one run at a time: whatever files are missing, another
// roster, fewer games, another arena build or a second run is refused; standings --out makes its
// folder; plan refuses an entrant or a folder that is not one line.
TEST(TournamentCli, AFolderHoldsOneTournamentAndOneRunAtATime) {
    const fs::path dir = freshDir("nimbus-tournament-identity");
    const fs::path out = dir / "t";
    std::vector<std::string> args = tournamentArgs("run", out);
    ASSERT_EQ(tournament(args).exitCode, 0);

    {
        // Another run holds the folder.
        const int fd = ::open((out / "tournament.lock").c_str(), O_RDWR);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        const auto second = tournament(args);
        EXPECT_EQ(second.exitCode, 2);
        EXPECT_NE(second.output.find("in use by another nimbus-tournament"), std::string::npos)
            << second.output;
        EXPECT_EQ(tournament(tournamentArgs("plan", out)).exitCode, 2);
        ::close(fd);
    }

    const auto refused = [&](std::vector<std::string> run, const std::string& why) {
        const auto r = tournament(run);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_NE(r.output.find(why), std::string::npos) << r.output;
    };
    std::vector<std::string> fewer = args;
    fewer[2] = "2";  // --games
    refused(fewer, "would leave games 3 to 4 out");
    const fs::path otherArena = dir / "nimbus-arena";
    fs::copy_file(fs::path(kTournament).parent_path() / "nimbus-arena", otherArena);
    std::ofstream(otherArena, std::ios::app) << "another build";
    std::vector<std::string> rebuilt = args;
    rebuilt.insert(rebuilt.begin() + 1, {"--arena", otherArena.string()});
    refused(rebuilt, "arena build");

    // Without tournament.json, the games still say whose they are: their game.json, and without
    // that, their results.
    fs::remove(out / "tournament.json");
    std::vector<std::string> other = args;
    std::swap(other[other.size() - 1], other[other.size() - 2]);
    refused(other, "game.json belongs to another tournament");
    refused(fewer, "beyond --games 2");
    for (int n = 1; n <= 4; ++n) {
        fs::remove(out / "games" / std::to_string(n) / "game.json");
    }
    refused(other, "not this game: its players are not the game's entrants");
    const auto resumed = tournament(args);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_NE(resumed.output.find("4 already played, 0 to play"), std::string::npos);

    const auto standings = tournament({"standings", out.string(), "--out", (dir / "a/b").string()});
    EXPECT_EQ(standings.exitCode, 0) << standings.output;
    EXPECT_EQ(readFile(dir / "a/b/standings.json"), readFile(out / "standings.json"));
    // A results file inside the folder that is none of its games does not count.
    fs::create_directories(out / "extra");
    fs::copy_file(out / "games" / "1" / "results.json", out / "extra" / "results.json");
    const auto extra = tournament({"standings", out.string(), "--out", (dir / "c").string()});
    EXPECT_NE(extra.output.find("4 games, 1 skipped"), std::string::npos) << extra.output;
    EXPECT_NE(extra.output.find("not one of the games of the tournament"), std::string::npos);

    std::vector<std::string> twoLines = tournamentArgs("plan", dir / "p");
    twoLines.back() = "builtin:idle\ntouch " + (dir / "ran").string();
    const auto plan = tournament(twoLines);
    EXPECT_EQ(plan.exitCode, 2);
    EXPECT_NE(plan.output.find("control character"), std::string::npos) << plan.output;
    EXPECT_FALSE(fs::exists(dir / "ran"));
    // Nor a folder whose name would split a game's line.
    const auto splitOut = tournament(tournamentArgs("plan", dir / "p\ntouch ran"));
    EXPECT_EQ(splitOut.exitCode, 2);
    EXPECT_NE(splitOut.output.find("--out"), std::string::npos) << splitOut.output;
    EXPECT_EQ(std::count(splitOut.output.begin(), splitOut.output.end(), '\n'), 1);
}

// An entrant whose command cannot even start never connects: its games are played without it
// and it is flagged with the end of its log; a game in which nobody could sit is no game at all,
// for run (failed, played again next time) and for standings (skipped).
TEST(TournamentCli, AGameCountsOnlyIfPlayedAndAnEntrantThatNeverConnectsIsFlagged) {
    const fs::path dir = freshDir("nimbus-tournament-never");
    const std::string typo = "pyhton3 bot.py";
    const auto run = tournament({"run", "--games", "2", "--players", "2", "--ticks", "100",
                                 "--tick-ms", "1", "--out", (dir / "a").string(),
                                 "builtin:greedy", typo});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("2 of 2 games played"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("warning: " + typo + " never connected in any of its 2 seats"),
              std::string::npos);
    EXPECT_NE(run.output.find("  | /bin/sh: 1: pyhton3: not found"), std::string::npos);
    const nlohmann::json s = nlohmann::json::parse(readFile(dir / "a" / "standings.json"));
    ASSERT_EQ(s["never_connected"].size(), 1u);
    EXPECT_EQ(s["never_connected"][0]["entrant"], typo);
    EXPECT_EQ(s["never_connected"][0]["log_tail"].back(), "/bin/sh: 1: pyhton3: not found");

    const std::vector<std::string> alone{"run",    "--games", "1", "--players", "1", "--tick-ms",
                                         "1",      "--out",   (dir / "b").string(), typo};
    const auto nobody = tournament(alone);
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_NE(nobody.output.find("game 1 failed"), std::string::npos) << nobody.output;
    EXPECT_NE(nobody.output.find("0 of 1 games played"), std::string::npos);
    const fs::path results = dir / "b" / "games" / "1" / "results.json";
    fs::rename(results.parent_path() / "results.unfinished.json", results);
    const auto again = tournament(alone);
    EXPECT_NE(again.output.find("0 already played, 1 to play"), std::string::npos)
        << again.output;
    fs::rename(results.parent_path() / "results.unfinished.json", results);
    const auto standings = tournament({"standings", (dir / "b").string()});
    EXPECT_EQ(standings.exitCode, 1);
    EXPECT_NE(standings.output.find("no game was played: nobody was seated"), std::string::npos)
        << standings.output;
    EXPECT_NE(standings.output.find("0 games, 1 skipped"), std::string::npos);
}

}  // namespace

namespace {

// A sandboxed tournament is another tournament: plan passes --sandbox with every limit to each
// game and records it; the same tournament without it, or with other limits, is refused in its
// folder. Played (root and bwrap only), every game records the sandbox, the standings count the
// sandboxed games, and a game played without it is no game of the tournament.
TEST(TournamentCli, ASandboxedTournamentIsAnotherTournament) {
    const fs::path dir = freshDir("nimbus-tournament-sandbox");
    std::vector<std::string> plan = tournamentArgs("plan", dir / "p");
    plan.insert(plan.begin() + 1, {"--sandbox", "--sandbox-memory", "512"});
    const auto planned = tournament(plan);
    ASSERT_EQ(planned.exitCode, 0) << planned.output;
    EXPECT_NE(planned.output.find(" --sandbox --sandbox-memory 512 --sandbox-processes 64 "
                                  "--sandbox-open-files 256 --sandbox-file-size 64 "
                                  "--sandbox-disk 64 --sandbox-cpu 1 --results "),
              std::string::npos)
        << planned.output;
    const nlohmann::json recorded = nlohmann::json::parse(readFile(dir / "p" / "tournament.json"));
    EXPECT_EQ(recorded["sandbox"]["memory_mib"], 512);
    for (const std::vector<std::string>& sandbox :
         {std::vector<std::string>{},
          {"--sandbox", "--sandbox-memory", "512", "--sandbox-processes", "32"}}) {
        std::vector<std::string> other = tournamentArgs("plan", dir / "p");
        other.insert(other.begin() + 1, sandbox.begin(), sandbox.end());
        const auto refused = tournament(other);
        EXPECT_EQ(refused.exitCode, 2) << refused.output;
        EXPECT_NE(refused.output.find("holds another tournament (sandbox"), std::string::npos)
            << refused.output;
    }

    std::vector<std::string> run = tournamentArgs("run", dir / "s");
    run.insert(run.begin() + 1, "--sandbox");
    if (::geteuid() != 0 || runProcess("/bin/sh", {"-c", "command -v bwrap"}).exitCode != 0) {
        const auto refused = tournament(run);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.output.find("--sandbox needs"), std::string::npos) << refused.output;
        GTEST_SKIP() << "playing sandboxed games needs root and bwrap";
    }
    const auto played = tournament(run);
    ASSERT_EQ(played.exitCode, 0) << played.output;
    EXPECT_NE(played.output.find("sandbox: 4 of 4 games played with every bot in a sandbox"),
              std::string::npos)
        << played.output;
    EXPECT_EQ(nlohmann::json::parse(readFile(dir / "s" / "standings.json"))["sandboxed_games"], 4);
    const fs::path game = fs::path("games") / "1" / "results.json";
    EXPECT_EQ(nlohmann::json::parse(readFile(dir / "s" / game))["settings"]["sandbox"]["processes"],
              64);
    ASSERT_EQ(tournament(tournamentArgs("run", dir / "u")).exitCode, 0);
    fs::copy_file(dir / "u" / game, dir / "s" / game, fs::copy_options::overwrite_existing);
    const auto mixed = tournament({"standings", (dir / "s").string()});
    EXPECT_NE(mixed.output.find("3 games, 1 skipped"), std::string::npos) << mixed.output;
    EXPECT_NE(mixed.output.find("played with the sandbox null"), std::string::npos) << mixed.output;
}

}  // namespace
