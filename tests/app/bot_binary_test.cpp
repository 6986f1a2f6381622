// The built nimbus-bot program, run as a user would run it: on the game's port 1986, and on the
// port that --port or NIMBUS_ARENA_PORT names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/loopback.hpp"
#include "tests/support/run_process.hpp"
#include "tests/support/sim_server.hpp"

namespace nimbus {
namespace {

using ::testing::HasSubstr;
using testing::runProcess;
using ::testing::StartsWith;
using testing::withPlatformLineEnds;

TEST(BotBinaryTest, WithoutAServerItReportsAndExitsWithOneAfterOneSecond) {
    const auto result = runProcess(NIMBUS_BOT_PATH);
    EXPECT_EQ(result.output, withPlatformLineEnds("WSAStartup result: 0\n"
                                                  "could not connect socket: " +
                                                  std::to_string(testing::kConnectionRefused) +
                                                  "\n"
                                                  "WSACleanup done\n"));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_GE(result.elapsed.count(), 1000);
}

// A server on a free port that closes the game after two state requests.
struct ShortGame {
    testing::SimServer server{testing::SimWorld{0, CloudState{640, 360, 0, 0, 100}, {}, {}},
                              testing::realTimeSource(),
                              [](const std::vector<testing::SimEntry>& log) {
                                  return testing::countLines(log, "GET_STATE") >= 2;
                              }};
};

void expectPlayedAgainst(ShortGame& game, const testing::ProcessResult& result) {
    game.server.join();
    EXPECT_THAT(result.output,
                StartsWith(withPlatformLineEnds("WSAStartup result: 0\nsocket up and running\n"
                                                "sending NAME\nrecieved HELLO Varnolt\n")));
    EXPECT_EQ(result.exitCode, 0);
    const auto log = game.server.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].line, "NAME Varnolt");
}

TEST(BotBinaryTest, FindsItsServerThroughThePortFlagOrTheEnvironmentAndTheFlagWins) {
    {
        ShortGame game;
        expectPlayedAgainst(game, runProcess(NIMBUS_BOT_PATH, {"--port", game.server.portText()}));
    }
    {
        ShortGame game;
        expectPlayedAgainst(game, runProcess(NIMBUS_BOT_PATH, {}, std::chrono::seconds(60),
                                             {"NIMBUS_ARENA_PORT=" + game.server.portText()}));
    }
    {
        ShortGame game;  // port 1 has no server: only the flag's port can be the one dialled
        expectPlayedAgainst(game, runProcess(NIMBUS_BOT_PATH, {"--port=" + game.server.portText()},
                                             std::chrono::seconds(60), {"NIMBUS_ARENA_PORT=1"}));
    }
}

TEST(BotBinaryTest, HelpPrintsTheUsageWithoutConnectingAndBadArgumentsExitWithTwo) {
    const auto help = runProcess(NIMBUS_BOT_PATH, {"--help"});
    EXPECT_THAT(
        help.output,
        StartsWith(withPlatformLineEnds("usage: nimbus-bot [--port N] [--strategy NAME]\n")));
    EXPECT_THAT(help.output, ::testing::Not(HasSubstr("WSAStartup")));
    EXPECT_EQ(help.exitCode, 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--port", "0"},
                                                 {"--port", "65536"},
                                                 {"--port", "12a"},
                                                 {"--port"},
                                                 {"--strategy"},
                                                 {"--strategy", "bogus"},
                                                 {"--bogus"}}) {
        const auto bad = runProcess(NIMBUS_BOT_PATH, args);
        EXPECT_EQ(bad.output, "") << args[0];  // nothing was tried: no trace at all
        EXPECT_EQ(bad.exitCode, 2) << args[0];
    }
    const auto badEnvironment =
        runProcess(NIMBUS_BOT_PATH, {}, std::chrono::seconds(60), {"NIMBUS_ARENA_PORT=http"});
    EXPECT_EQ(badEnvironment.output, "");
    EXPECT_EQ(badEnvironment.exitCode, 2);
}

// Every strategy that --list-strategies names (faithful first) plays through --strategy, in both
// spellings of the option.
TEST(BotBinaryTest, ListsItsStrategiesFaithfulFirstAndPlaysEachOfThem) {
    const auto list = runProcess(NIMBUS_BOT_PATH, {"--list-strategies"});
    EXPECT_EQ(list.exitCode, 0);
    ASSERT_THAT(list.output, StartsWith(withPlatformLineEnds("faithful\n")));
    std::istringstream lines(list.output);
    std::string name;
    bool equalsForm = false;
    while (std::getline(lines, name)) {
        if (!name.empty() && name.back() == '\r')
            name.pop_back();
        SCOPED_TRACE(name);
        ShortGame game;
        const std::string port = "--port=" + game.server.portText();
        expectPlayedAgainst(
            game, runProcess(NIMBUS_BOT_PATH,
                             equalsForm ? std::vector<std::string>{"--strategy=" + name, port}
                                        : std::vector<std::string>{"--strategy", name, port}));
        equalsForm = !equalsForm;
    }
}

}  // namespace
}  // namespace nimbus
