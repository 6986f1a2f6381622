// nimbus-analyze on a small tournament folder recorded by the real programs (builtins at 1 ms a
// tick): its figures must agree with the arena's results, game by game and entrant by entrant.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

}  // namespace
