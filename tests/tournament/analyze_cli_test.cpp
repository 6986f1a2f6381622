// nimbus-analyze on a small tournament folder recorded by the real programs (builtins at 1 ms a
// tick): its figures must agree with the arena's results, game by game and entrant by entrant;
// and hostile game files, which it and the standings must skip, each with a line.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/support/run_process.hpp"

namespace {

namespace fs = std::filesystem;
using nimbus::testing::runProcess;

nlohmann::json readJson(const fs::path& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

TEST(AnalyzeCli, FiguresOfARecordedTournamentAgreeWithItsResults) {
    const fs::path dir = fs::path(::testing::TempDir()) / "nimbus-analyze";
    fs::remove_all(dir);
    ASSERT_EQ(
        runProcess(NIMBUS_TOURNAMENT_PATH,
                   {"run", "--games", "4", "--players", "3", "--ticks", "1500", "--tick-ms", "1",
                    "--seed", "6", "--out", dir.string(), "builtin:greedy", "builtin:idle"})
            .exitCode,
        0);
    // What the arena says: per entrant, seats, summed final mass and deaths.
    struct Expected {
        int seats = 0;
        double finalMass = 0.0;
        int deaths = 0;
    };
    std::map<std::string, Expected> expected;
    for (int n = 1; n <= 4; ++n) {
        const nlohmann::json results = readJson(dir / "games" / std::to_string(n) / "results.json");
        for (const nlohmann::json& p : results["players"]) {
            Expected& e = expected["builtin:" + p["name"].get<std::string>().substr(0, 4)];
            e.seats += 1;
            e.finalMass += p["final_mass"].get<double>();
            e.deaths += p["status"] == "out" ? 1 : 0;
        }
    }
    // A game whose results are cut short is skipped, and said so.
    fs::copy(dir / "games" / "1", dir / "games" / "5");
    std::ofstream(dir / "games" / "5" / "results.json") << "{\"players\": [";

    const fs::path json = dir / "analysis.json";
    const auto run = runProcess(NIMBUS_ANALYZE_PATH, {dir.string(), "--json", json.string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.rfind("4 games, 1 skipped\n", 0), 0u) << run.output;
    const nlohmann::json figures = readJson(json);
    ASSERT_EQ(figures["entrants"].size(), 2u);
    for (const nlohmann::json& e : figures["entrants"]) {
        const std::string name = e["entrant"];
        SCOPED_TRACE(name);
        const Expected& x = expected[name.substr(0, 12)];
        const int seats = e["seats"];
        EXPECT_EQ(seats, x.seats);
        EXPECT_NEAR(e["final_mass"].get<double>(), x.finalMass / seats, 0.01);
        int deaths = 0;
        for (const auto& [by, count] : e["deaths"].items())
            deaths += count.get<int>();
        EXPECT_EQ(deaths, x.deaths);
        // Every seat starts at 100: what came in less what went out is what is left.
        EXPECT_NEAR(100.0 + e["rain_gain"].get<double>() + e["player_gain"].get<double>() -
                        e["wind_spent"].get<double>() - e["lost_swallowed"].get<double>(),
                    e["final_mass"].get<double>(), 0.01);
    }
    // Idle never blows; the one idle seat swallowed in these games went to a greedy one.
    EXPECT_EQ(figures["entrants"][1]["entrant"], "builtin:idle");
    EXPECT_EQ(figures["entrants"][1]["winds"], 0.0);
    EXPECT_EQ(expected["builtin:idle"].deaths, 1);
    EXPECT_EQ(figures["entrants"][1]["deaths"]["builtin:greedy"], 1);
    EXPECT_GT(figures["entrants"][0]["winds"].get<double>(), 0.0);

    EXPECT_EQ(runProcess(NIMBUS_ANALYZE_PATH, {(dir / "games" / "5").string()}).exitCode, 1);
}

// A program's standard output and error, through the shell.
nimbus::testing::ProcessResult says(const std::string& program,
                                    const std::vector<std::string>& args) {
    std::string line = "'" + program + "'";
    for (const std::string& a : args)
        line += " '" + a + "'";
    return runProcess("/bin/sh", {"-c", line + " 2>&1"});
}

TEST(AnalyzeCli, HostileGameFilesAreSkippedWithALine) {
    const fs::path dir = fs::path(::testing::TempDir()) / "nimbus-analyze-hostile";
    fs::remove_all(dir);
    // Two entrants in four seats: games 1 and 2 share a seed with the entrants in other seats,
    // game 3 has the next seed.
    const auto run = [](const fs::path& out) {
        return std::vector<std::string>{"run",        "--games",        "3",           "--players",
                                        "4",          "--ticks",        "300",         "--tick-ms",
                                        "1",          "--seed",         "6",           "--out",
                                        out.string(), "builtin:greedy", "builtin:idle"};
    };
    ASSERT_EQ(runProcess(NIMBUS_TOURNAMENT_PATH, run(dir / "t")).exitCode, 0);

    using Edit = std::function<void(const fs::path& games)>;
    const auto copy = [](const char* from, const char* to) {
        return [=](const fs::path& games) {
            fs::copy_file(games / from, games / to, fs::copy_options::overwrite_existing);
        };
    };
    const Edit removeReplay = [](const fs::path& games) {
        fs::remove(games / "2/replay.jsonl.gz");
    };
    struct Row {
        const char* what;
        Edit edit;                  // on a copy of the tournament's games folder
        bool withTournamentFile;    // else game 2's game.json alone says what it must be
        const char* standingsSkip;  // why standings (and run) skip game 2; nullptr: they take it
        const char* analyzeSkip;
    };
    const std::vector<Row> rows{
        {"game 1's results as game 2's", copy("1/results.json", "2/results.json"), true,
         "seat 1 is \"builtin:idle\", its player 0 is \"builtin:greedy\"", "seat 1"},
        {"game 1's results as game 2's, no tournament.json",
         copy("1/results.json", "2/results.json"), false, "seat 1 is \"builtin:idle\"", "seat 1"},
        {"game 3's replay (another seed) as game 2's",
         copy("3/replay.jsonl.gz", "2/replay.jsonl.gz"), true, nullptr,
         "not this game's replay: seed 7, not 6"},
        {"game 1's replay (other seats) as game 2's",
         copy("1/replay.jsonl.gz", "2/replay.jsonl.gz"), true, nullptr,
         "not this game's replay: player 0 is"},
        {"a header claiming 50,000,000 players",
         [](const fs::path& games) {
             std::ofstream(games / "2/replay.jsonl.gz")
                 << R"({"format":"nimbus-arena-replay","version":2,"settings":{"seed":6,)"
                    R"("ticks":300,"rainclouds":40,"players":50000000,"tick_ms":1},"players":[]})"
                 << "\n{\"t\":0,\"p\":[]}\n";
         },
         true, nullptr, "players 50000000, not 4"},
        {"a FIFO as the replay",
         [&](const fs::path& games) {
             removeReplay(games);
             ASSERT_EQ(::mkfifo((games / "2/replay.jsonl.gz").c_str(), 0600), 0);
         },
         true, nullptr, "not a regular file"},
        {"a link to /dev/zero as the replay",
         [&](const fs::path& games) {
             removeReplay(games);
             fs::create_symlink("/dev/zero", games / "2/replay.jsonl.gz");
         },
         true, nullptr, "not a regular file"},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.what);
        const fs::path t = dir / std::to_string(i);
        fs::copy(dir / "t", t, fs::copy_options::recursive);
        row.edit(t / "games");
        if (!row.withTournamentFile)
            fs::remove(t / "tournament.json");
        const std::string skipped = "skipped " + (t / "games/2/results.json").string() + " (";

        const auto standings = says(NIMBUS_TOURNAMENT_PATH, {"standings", t.string()});
        const auto analysis = says(NIMBUS_ANALYZE_PATH, {t.string()});
        EXPECT_EQ(analysis.exitCode, 0);
        EXPECT_NE(analysis.output.find(skipped), std::string::npos) << analysis.output;
        EXPECT_NE(analysis.output.find(row.analyzeSkip), std::string::npos) << analysis.output;
        EXPECT_NE(analysis.output.find("2 games, 1 skipped\n"), std::string::npos);
        if (row.standingsSkip == nullptr) {
            EXPECT_NE(standings.output.find("3 games\n"), std::string::npos) << standings.output;
            continue;
        }
        EXPECT_NE(standings.output.find(skipped + "not this game: " + row.standingsSkip),
                  std::string::npos)
            << standings.output;
        EXPECT_NE(standings.output.find("2 games, 1 skipped\n"), std::string::npos);
        if (row.withTournamentFile) {  // and a run in the folder refuses it
            const auto resumed = says(NIMBUS_TOURNAMENT_PATH, run(t));
            EXPECT_EQ(resumed.exitCode, 2);
            EXPECT_NE(resumed.output.find(row.standingsSkip), std::string::npos) << resumed.output;
        }
    }
}

}  // namespace
