// A whole game through the real programs: the arena on the bot's fixed port with two nimbus-bot
// processes and a builtin greedy player at 8 ms a tick, then the replay verified.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

TEST(WholeGame, TwoBotsAndAGreedyPlayToTheEndAndTheReplayVerifies) {
    const fs::path dir = fs::path(::testing::TempDir()) / "nimbus-whole-game";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path results = dir / "results.json";
    const fs::path replay = dir / "game.replay.jsonl.gz";
    const std::string arena = NIMBUS_ARENA_PATH;
    const std::string bot = NIMBUS_BOT_PATH;
    const std::string play = quoted(arena) + " --port 1986 --seed 20261208 --ticks 1800" +
                             " --tick-ms 8 --lobby-seconds 20 --quiet --results " +
                             quoted(results) + " --replay " + quoted(replay) + " " + quoted(bot) +
                             " " + quoted(bot) + " builtin:greedy > " + quoted(dir / "table.txt");
    // The fixed port may be held for a moment by another program's test on this machine.
    int status = run(play);
    for (int retry = 0; retry < 60 && status == 3; ++retry) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        status = run(play);
    }
    ASSERT_EQ(status, 0);

    std::ifstream in(results);
    const nlohmann::json r = nlohmann::json::parse(in);
    EXPECT_EQ(r["seed"], 20261208u);
    EXPECT_LE(r["ticks"].get<int>(), 1800);
    ASSERT_EQ(r["players"].size(), 3u);
    int bots = 0;
    int botWinds = 0;
    for (const auto& p : r["players"]) {
        if (p["kind"] == "bot") {
            ++bots;
            botWinds += p["winds"].get<int>();
            EXPECT_EQ(p["name"].get<std::string>().rfind("Varnolt", 0), 0u);
            EXPECT_EQ(p["rejected_winds"], 0) << p.dump();  // every wind of the bots accepted
            ASSERT_TRUE(p["log"].is_string());
            EXPECT_TRUE(fs::exists(p["log"].get<std::string>()));
        } else {
            EXPECT_EQ(p["kind"], "builtin");
            EXPECT_EQ(p["name"], "greedy");
        }
        EXPECT_GE(p["rank"].get<int>(), 1);
        EXPECT_GT(p["peak_mass"].get<double>(), 0.0);
    }
    EXPECT_EQ(bots, 2);
    EXPECT_GT(botWinds, 0);  // the bots played, so "every wind accepted" says something

    std::ifstream tableIn(dir / "table.txt");
    const std::string table((std::istreambuf_iterator<char>(tableIn)), {});
    EXPECT_NE(table.find("Varnolt"), std::string::npos);
    EXPECT_NE(table.find("greedy"), std::string::npos);

    EXPECT_EQ(run(quoted(arena) + " --verify " + quoted(replay) + " > /dev/null"), 0);
}

}  // namespace
