// What a tournament reads from others: results files that are broken, impossible, not the game
// they claim to be, or not files at all; entrant texts with control characters; and entrant
// text in the files it writes (Markdown, CSV) and prints.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tournament/records/entrant.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/play/progress.hpp"
#include "tournament/standings/standings.hpp"

namespace nimbus::tournament {
namespace {

// A whole 3-seat game as the arena writes it: bot "./a" beat builtin:greedy twice.
nlohmann::json wholeGame() {
    const auto player = [](int index, const char* name, const char* kind, nlohmann::json command,
                           int rank, double mass) {
        return nlohmann::json{{"index", index},     {"name", name},        {"kind", kind},
                              {"command", command}, {"status", "playing"}, {"rank", rank},
                              {"final_mass", mass}, {"log", nullptr},      {"winds", 3}};
    };
    return {
        {"version", "0.1.0"},
        {"played", true},
        {"seed", 5},
        {"ticks", 200},
        {"ticks_played", 200},
        {"end_reason", "ticks"},
        {"settings", {{"seed", 5}, {"tick_ms", 1}, {"rainclouds", 40}, {"players", 3}}},
        {"pacing", nullptr},
        {"players",
         {player(2, "a", "bot", "./a", 1, 150.5), player(0, "greedy", "builtin", nullptr, 2, 80),
          player(1, "greedy-2", "builtin", nullptr, 3, 0)}}};
}

ExpectedGame expected() {
    ExpectedGame e;
    e.seats = std::vector<std::string>{"builtin:greedy", "builtin:greedy", "./a"};
    e.seed = 5;
    e.ticks = 200;
    e.tickMs = 1;
    return e;
}

TEST(HostileInput, ResultsFilesCountOnlyWhenTheyAreThePlayedGameTheyMustBe) {
    using Edit = std::function<void(nlohmann::json&)>;
    const double huge = 1e308;
    struct Case {
        const char* what;
        Edit edit;
        GameState state;
        const char* problem;
    };
    const std::vector<Case> cases{
        {"whole", [](nlohmann::json&) {}, GameState::Finished, ""},
        {"nobody seated",
         [](nlohmann::json& j) {
             j["played"] = false;
             for (auto& p : j["players"]) {
                 p["status"] = "absent";
                 p["rank"] = nullptr;
             }
         },
         GameState::NotPlayed, "nobody was seated"},
        {"nobody seated, written before the played field",
         [](nlohmann::json& j) {
             j.erase("played");
             j["end_reason"] = "no_players";
             j["ticks_played"] = 0;
             for (auto& p : j["players"]) {
                 p["status"] = "absent";
             }
         },
         GameState::NotPlayed, "nobody was seated"},
        {"played, as text", [](nlohmann::json& j) { j["played"] = "false"; }, GameState::Invalid,
         "played"},
        {"interrupted", [](nlohmann::json& j) { j["end_reason"] = "interrupted"; },
         GameState::Unfinished, ""},
        {"no players",
         [](nlohmann::json& j) {
             j = {{"players", nlohmann::json::array()}};
         },
         GameState::Invalid, ""},
        {"empty players list", [](nlohmann::json& j) { j["players"] = nlohmann::json::array(); },
         GameState::Invalid, "players"},
        {"a place of -2^31", [](nlohmann::json& j) { j["players"][0]["rank"] = -2147483648LL; },
         GameState::Invalid, "place"},
        {"a place given twice", [](nlohmann::json& j) { j["players"][2]["rank"] = 2; },
         GameState::Invalid, "place 2"},
        {"a place beyond the players", [](nlohmann::json& j) { j["players"][2]["rank"] = 4; },
         GameState::Invalid, "place 4"},
        {"a mass of 1e308", [huge](nlohmann::json& j) { j["players"][0]["final_mass"] = huge; },
         GameState::Invalid, "mass"},
        {"a negative mass", [](nlohmann::json& j) { j["players"][1]["final_mass"] = -1; },
         GameState::Invalid, "mass"},
        {"a mass that is text", [](nlohmann::json& j) { j["players"][1]["final_mass"] = "9"; },
         GameState::Invalid, "final_mass"},
        {"900 players in a 3-seat game",
         [](nlohmann::json& j) {
             const nlohmann::json one = j["players"][1];
             for (int i = 3; i < 900; ++i) {
                 j["players"].push_back(one);
             }
         },
         GameState::Invalid, "1 to 64"},
        {"more players than its settings", [](nlohmann::json& j) { j["settings"]["players"] = 2; },
         GameState::Invalid, "3 players"},
        {"an unknown status", [](nlohmann::json& j) { j["players"][0]["status"] = "won"; },
         GameState::Invalid, "status"},
        {"an unknown end", [](nlohmann::json& j) { j["end_reason"] = "forfeit"; },
         GameState::Invalid, "end reason"},
        {"an unknown builtin", [](nlohmann::json& j) { j["players"][1]["name"] = "cheater"; },
         GameState::Invalid, "builtin"},
        {"an escape sequence in a command",
         [](nlohmann::json& j) { j["players"][0]["command"] = "./a\x1b[2J"; }, GameState::Invalid,
         "\\x1B[2J"},
        {"a command that is not one of the game's entrants",
         [](nlohmann::json& j) { j["players"][0]["command"] = "rm -rf ~"; }, GameState::Foreign,
         "entrants"},
        {"a client", [](nlohmann::json& j) { j["players"][0]["kind"] = "client"; },
         GameState::Foreign, "client"},
        {"another seed", [](nlohmann::json& j) { j["seed"] = 6; }, GameState::Foreign, "seed 6"},
        {"other ticks", [](nlohmann::json& j) { j["ticks"] = 100; }, GameState::Foreign,
         "--ticks 100"},
        {"another tick length", [](nlohmann::json& j) { j["settings"]["tick_ms"] = 16; },
         GameState::Foreign, "--tick-ms 16"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nlohmann::json results = wholeGame();
        c.edit(results);
        const LoadedGame loaded = checkGame(results, expected());
        EXPECT_EQ(loaded.state, c.state) << loaded.problem;
        EXPECT_NE(loaded.problem.find(c.problem), std::string::npos) << loaded.problem;
        EXPECT_EQ(loaded.problem.find('\x1b'), std::string::npos);
        if (c.state == GameState::Finished) {
            ASSERT_EQ(loaded.outcome.seats.size(), 3u);
            EXPECT_EQ(loaded.outcome.seats[0].entrant, "./a");
            EXPECT_EQ(loaded.outcome.seats[2].entrant, "builtin:greedy");
        }
    }

    // Files that are not whole results files, or not files at all, are read without blocking.
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "hostile";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "fifo");
    ASSERT_EQ(::mkfifo((dir / "fifo" / "results.json").c_str(), 0600), 0);
    EXPECT_EQ(loadGame(dir / "fifo" / "results.json", {}).state, GameState::Broken);
    EXPECT_EQ(loadGame(dir / "fifo" / "results.json", {}).problem, "not a regular file");
    std::ofstream(dir / "cut.json") << wholeGame().dump().substr(0, 100);
    EXPECT_EQ(loadGame(dir / "cut.json", {}).state, GameState::Broken);
    EXPECT_EQ(loadGame(dir / "none.json", {}).state, GameState::Missing);

    // A bot's log is read only beside its results, never elsewhere, never through a link: a
    // results file from others must not copy the user's files into the standings.
    std::filesystem::create_directories(dir / "game");
    std::ofstream(dir / "secret.log") << "secret\n";
    nlohmann::json named = wholeGame();
    named["players"][0]["log"] = (dir / "secret.log").string();
    std::ofstream(dir / "game" / "results.json") << named.dump();
    const LoadedGame read = loadGame(dir / "game" / "results.json", expected());
    ASSERT_EQ(read.state, GameState::Finished);
    EXPECT_EQ(read.outcome.seats[0].log, (dir / "game" / "secret.log").string());
    EXPECT_TRUE(logTail(read.outcome.seats[0].log).empty());
    std::filesystem::create_symlink(dir / "secret.log", dir / "game" / "secret.log");
    EXPECT_TRUE(logTail(read.outcome.seats[0].log).empty());
}

TEST(HostileInput, PlayersSitInTheirSeatsAsTheArenaNumbersThemNowOrDidBefore) {
    // Seats "./a", greedy, greedy: the arena numbers its players by seat now (./a is player 0);
    // results stored before numbered the builtins first (./a is player 2). Anything else is
    // another game's.
    ExpectedGame e = expected();
    e.seats = std::vector<std::string>{"./a", "builtin:greedy", "builtin:greedy"};
    const struct {
        int a, greedy, greedy2;
        GameState state;
        const char* problem;
    } rows[] = {{0, 1, 2, GameState::Finished, ""},
                {2, 0, 1, GameState::Finished, ""},
                {1, 0, 2, GameState::Foreign, "seat 1 is \"./a\", its player 0 is \"builtin:greedy\""}};
    for (const auto& row : rows) {
        nlohmann::json results = wholeGame();
        results["players"][0]["index"] = row.a;
        results["players"][1]["index"] = row.greedy;
        results["players"][2]["index"] = row.greedy2;
        const LoadedGame loaded = checkGame(results, e);
        EXPECT_EQ(loaded.state, row.state) << row.a << ": " << loaded.problem;
        EXPECT_NE(loaded.problem.find(row.problem), std::string::npos) << loaded.problem;
    }
}

TEST(HostileInput, EntrantTextIsOneLineAndEveryOutputEscapesWhatItMust) {
    for (const char* bad : {"", "bot\nrm -rf ~", "bot\r", "bot\x1b[31m", "a\tb", "bot\x7f",
                            "bot\xc2\x9b"
                            "31m",
                            "bot\xff"}) {
        EXPECT_NE(entrantProblem(bad), "") << printable(bad);
        EXPECT_EQ(printable(entrantProblem(bad)), entrantProblem(bad));
    }
    for (const char* good : {"./bot --level 3", "python3 b\xc3\xb6t.py", "builtin:idle"}) {
        EXPECT_EQ(entrantProblem(good), "") << good;
    }
    EXPECT_EQ(printable("a\x1b[2Jb\n\xc3\xa9\xff"), "a\\x1B[2Jb\\x0A\xc3\xa9\\xFF");

    // One label rule: paths cut to their last part, builtins as they are, full text where two
    // would read the same.
    const auto labels = entrantLabels({"build/release/bin/nimbus-bot --port 7", "builtin:idle",
                                       "python3 bots/a.py", "/x/run", "/y/run", "-o/z ./"});
    EXPECT_EQ(labels.at("build/release/bin/nimbus-bot --port 7"), "nimbus-bot --port 7");
    EXPECT_EQ(labels.at("builtin:idle"), "builtin:idle");
    EXPECT_EQ(labels.at("python3 bots/a.py"), "python3 a.py");
    EXPECT_EQ(labels.at("/x/run"), "/x/run");
    EXPECT_EQ(labels.at("/y/run"), "/y/run");
    EXPECT_EQ(labels.at("-o/z ./"), "-o/z ./");

    // The progress bar cuts a label between two characters.
    Progress progress;
    progress.total = 10;
    progress.leader = "python3 b\xc3\xb6t.py";
    for (std::size_t width = 1; width < 80; ++width) {
        const std::string bar = progressBar(progress, width);
        EXPECT_EQ(printable(bar), bar) << width;
        EXPECT_LE(bar.size(), width);
    }

    // The tables: '|' cannot open a Markdown column, a CSV cell cannot become a formula.
    Standings standings;
    GameOutcome game;
    game.seats = {{"=HYPERLINK(\"x\")", 1, 10.0, "playing", ""},
                  {"a|b,c", 2, 5.0, "playing", ""},
                  {"-1+2", 3, 0.0, "out", ""}};
    standings.add(game);
    const std::string markdown = standingsMarkdown(standings.rows());
    EXPECT_NE(markdown.find("| a\\|b,c "), std::string::npos) << markdown;
    const std::string csv = standingsCsv(standings.rows());
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\",\"'=HYPERLINK(\"\"x\"\")\","),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",\"'-1+2\",\"'-1+2\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"a|b,c\",\"a|b,c\","), std::string::npos) << csv;
}

}  // namespace
}  // namespace nimbus::tournament
