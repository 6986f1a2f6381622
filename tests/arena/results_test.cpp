// Ranking and the results file: players still in, eliminated, disconnected and absent.
#include "arena/game/results.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace nimbus::arena {
namespace {

Cloud storm(std::int32_t p, float x, float mass) {
    Cloud c;
    c.id = p;
    c.kind = CloudKind::Thunderstorm;
    c.owner = p;
    c.state = {x, 300.0f, 0.0f, 0.0f, mass};
    return c;
}

// Player 3 (150) eats player 2 at tick 1; player 0 (90) lives; player 1 drifts into 3 later.
Game eliminationGame(std::vector<Cloud> extra = {}) {
    std::vector<Cloud> clouds{storm(0, 100, 90), storm(1, 1000, 80), storm(2, 1095, 60),
                              storm(3, 1100, 150)};
    clouds[1].state.vx = 100.0f;
    clouds.insert(clouds.end(), extra.begin(), extra.end());
    GameSettings s;
    s.players = static_cast<std::int32_t>(clouds.size());
    s.rainclouds = 0;
    Game game(s, clouds);
    while (!game.isOut(1)) {
        game.step();
    }
    return game;
}

std::vector<std::string> names(const std::vector<ResultRow>& rows) {
    std::vector<std::string> out;
    for (const ResultRow& r : rows) {
        out.push_back(r.info.name);
    }
    return out;
}

TEST(Results, RanksLivingByMassThenLaterEliminationFirst) {
    const Game game = eliminationGame();
    const auto rows = rankPlayers(&game, {{"a", "bot", "a.log", "./a", -1},
                                          {"b", "bot", "", "./b", -1},
                                          {"c", "builtin", "", "", -1},
                                          {"d", "builtin", "", "", -1}});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(names(rows), (std::vector<std::string>{"d", "a", "b", "c"}));
    EXPECT_EQ(rows[3].record.outAtTick, 1);
    EXPECT_GT(rows[2].record.outAtTick, 1);
    EXPECT_EQ(rows[2].finalMass, 0.0f);
    EXPECT_EQ(rows[0].record.swallowed, 2);

    const nlohmann::json j = resultsJson({7, 3600, game.tick(), 16, 0, "one_left"}, rows);
    ASSERT_EQ(j["players"].size(), 4u);
    EXPECT_EQ(j["players"][1]["log"], "a.log");
    EXPECT_TRUE(j["players"][0]["log"].is_null());
    EXPECT_TRUE(j["players"][1]["out_at_tick"].is_null());
    EXPECT_EQ(j["players"][3]["out_at_tick"], 1);
    EXPECT_EQ(j["ticks"], 3600);
    EXPECT_EQ(j["ticks_played"], game.tick());
    const std::string table = resultsTable(rows);
    EXPECT_NE(table.find("rank"), std::string::npos);
    EXPECT_NE(table.find("builtin"), std::string::npos);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5);
}

TEST(Results, DisconnectedRankBelowEveryoneInByDepartureThenMassAndAbsentLast) {
    // Three more players far apart: they never touch anything.
    const Game game = eliminationGame({storm(4, 300, 70), storm(5, 500, 50), storm(6, 700, 10)});
    std::vector<PlayerInfo> infos{
        {"a", "bot", "a.log", "./a", -1},  // plays on
        {"b", "bot", "", "./b", 0},        // left in the lobby; its cloud was swallowed later
        {"c", "builtin", "", "", -1},      // swallowed at tick 1
        {"d", "client", "", "", -1},       // plays on, heaviest
        {"e", "bot", "", "./e", 10},       // left at 10, heavier than f
        {"f", "bot", "", "./f", 10},      {"g", "bot", "", "./g", 20},  // left last, lightest
        {"h", "bot", "h.log", "./h", -1},                               // never named itself
        {"i", "bot", "i.log", "./i", -1},
    };
    const auto rows = rankPlayers(&game, infos);
    EXPECT_EQ(names(rows), (std::vector<std::string>{"d", "a", "c", "g", "e", "f", "b", "h", "i"}));
    const std::vector<PlayerStatus> statuses{
        PlayerStatus::Playing,      PlayerStatus::Playing,      PlayerStatus::Out,
        PlayerStatus::Disconnected, PlayerStatus::Disconnected, PlayerStatus::Disconnected,
        PlayerStatus::Disconnected, PlayerStatus::Absent,       PlayerStatus::Absent};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].status, statuses[i]) << rows[i].info.name;
        EXPECT_EQ(rows[i].rank, static_cast<std::int32_t>(i + 1));
    }

    const nlohmann::json j = resultsJson({7, 3600, game.tick(), 16, 0, "ticks"}, rows);
    EXPECT_FALSE(j["version"].get<std::string>().empty());
    EXPECT_EQ(j["end_reason"], "ticks");
    EXPECT_EQ(j["settings"],
              nlohmann::json({{"seed", 7},
                              {"tick_ms", 16},
                              {"rainclouds", 0},
                              {"players", 9},
                              {"sandbox", nullptr}}));
    const nlohmann::json& b = j["players"][6];
    EXPECT_EQ(b["index"], 1);
    EXPECT_EQ(b["status"], "disconnected");
    EXPECT_EQ(b["left_at_tick"], 0);
    EXPECT_EQ(b["command"], "./b");
    EXPECT_EQ(b["out_at_tick"], game.record(1).outAtTick);  // swallowed after it left
    EXPECT_EQ(b["final_mass"], 0.0);
    const nlohmann::json& d = j["players"][0];
    EXPECT_EQ(d["kind"], "client");
    EXPECT_TRUE(d["command"].is_null());
    EXPECT_TRUE(d["left_at_tick"].is_null());
    EXPECT_EQ(d["status"], "playing");
    const nlohmann::json& h = j["players"][7];
    EXPECT_EQ(h["index"], 7);
    EXPECT_EQ(h["status"], "absent");
    EXPECT_EQ(h["final_mass"], 0.0);
    EXPECT_EQ(h["peak_mass"], 0.0);
    EXPECT_EQ(h["winds"], 0);
    EXPECT_TRUE(h["out_at_tick"].is_null());
    EXPECT_TRUE(h["left_at_tick"].is_null());
    EXPECT_EQ(h["log"], "h.log");

    const std::string table = resultsTable(rows);
    EXPECT_NE(table.find("disconnected"), std::string::npos);
    EXPECT_NE(table.find("absent"), std::string::npos);

    // No game at all: everyone is absent, in index order.
    const auto none =
        rankPlayers(nullptr, {{"x", "bot", "", "./x", -1}, {"y", "bot", "", "./y", -1}});
    EXPECT_EQ(names(none), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(none[1].status, PlayerStatus::Absent);
}

// A game nobody was seated in says so: not played, and nobody has a place in it. A game that ran
// on the clock carries its pacing figures.
TEST(Results, SayWhetherAGameWasPlayedAndHowWellItsTicksWereKept) {
    const auto none = rankPlayers(nullptr, {{"x", "bot", "x.log", "./x", -1}});
    const nlohmann::json empty = resultsJson({7, 3600, 0, 16, 0, "no_players", false}, none);
    EXPECT_EQ(empty["played"], false);
    EXPECT_TRUE(empty["players"][0]["rank"].is_null());
    EXPECT_TRUE(empty["pacing"].is_null());

    const Game game = eliminationGame();
    const auto rows = rankPlayers(&game, {{"a", "bot", "", "./a", -1}, {"b", "bot", "", "./b", -1},
                                          {"c", "bot", "", "./c", -1}, {"d", "bot", "", "./d", -1}});
    const nlohmann::json j =
        resultsJson({7, 3600, game.tick(), 16, 0, "ticks", true, PacingFigures{0.1, 4.5, 9.25, 3}},
                    rows);
    EXPECT_EQ(j["played"], true);
    EXPECT_EQ(j["players"][0]["rank"], 1);
    EXPECT_EQ(j["pacing"], nlohmann::json({{"tick_lag_p50_ms", 0.1},
                                           {"tick_lag_p99_ms", 4.5},
                                           {"tick_lag_max_ms", 9.25},
                                           {"largest_catch_up_ticks", 3}}));
}

// The table's name column is 20 characters wide: a longer name is cut between two characters.
TEST(Results, TheTableCutsNamesOnACharacterBoundary) {
    const Game game = eliminationGame();
    std::string accents = "a";  // then 21 x "e acute", two bytes each
    for (int i = 0; i < 21; ++i) {
        accents += "\xC3\xA9";
    }
    const auto rows = rankPlayers(&game, {{accents, "bot", "", "", -1},
                                          {"euro\xE2\x82\xAC", "bot", "", "", -1},
                                          {"c", "bot", "", "", -1},
                                          {"d", "bot", "", "", -1}});
    const std::string table = resultsTable(rows);
    // Built with append: GCC 12 warns falsely (-Wrestrict) on + chains of temporaries here.
    std::string cut(" ");
    cut.append(accents, 0, 39).append(" bot");
    std::string padded(" euro\xE2\x82\xAC");
    padded.append(15, ' ').append(" bot");
    EXPECT_NE(table.find(cut), std::string::npos) << table;
    EXPECT_NE(table.find(padded), std::string::npos) << table;
}

}  // namespace
}  // namespace nimbus::arena
