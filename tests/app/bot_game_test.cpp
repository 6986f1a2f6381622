// Whole games of the built nimbus-bot against the test game server on port 1986, in real time
// (16 ms ticks), with the server moving its clouds by the game's motion model.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "tests/support/run_process.hpp"
#include "tests/support/sim_server.hpp"

namespace nimbus::testing {
namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

SimWorld worldWithOwn() {
    SimWorld w;
    w.tick = 0;
    w.own = CloudState{640, 360, 0, 0, 100};
    return w;
}

// Closes the game after the given number of state requests.
SimServer::StopRule afterStates(int count) {
    return
        [count](const std::vector<SimEntry>& log) { return countLines(log, "GET_STATE") >= count; };
}

TEST(BotGameTest, EmptyWorldPollsEveryCycleAndNeverBlows) {
    SimServer server(worldWithOwn(), realTimeSource(), afterStates(12), 1986);
    const auto result = runProcess(NIMBUS_BOT_PATH);
    server.join();
    const auto log = server.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].line, "NAME Varnolt");
    EXPECT_EQ(countLines(log, "WIND"), 0);
    EXPECT_EQ(countLines(log, "GET_STATE"), 12);
    // An idle cycle lasts ten ticks: one state per cycle, ~160 ms apart, never faster than 110 ms.
    for (size_t i = 2; i < log.size(); ++i) {
        EXPECT_GE(log[i].timeMs - log[i - 1].timeMs, 100) << i;
    }
    EXPECT_EQ(result.exitCode, 0);
}

TEST(BotGameTest, ThreateningRaincloudIsEvadedRightAfterTheFirstState) {
    SimWorld world = worldWithOwn();
    world.rainclouds.push_back(CloudState{440, 365, 20, 0, 144});
    // The clock starts at the first state request: however long the handshake took (a bot under
    // Wine, a busy machine), the first state shows the worked case unmoved.
    SimServer server(world, realTimeSource(2), afterStates(3), 1986);
    const auto result = runProcess(NIMBUS_BOT_PATH);
    server.join();
    const auto log = server.log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1].line, "GET_STATE");
    ASSERT_EQ(log[1].tick, 0) << "the first state must show the worked case unmoved";
    EXPECT_EQ(log[2].line, "WIND 0.000000 -3.571134");
    EXPECT_LE(log[2].timeMs - log[1].timeMs, 15);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(BotGameTest, ServerClosingMidGameEndsTheBotWithinAboutASecond) {
    std::atomic<std::int64_t> closedAt{0};
    auto stop = [&closedAt](const std::vector<SimEntry>& log) {
        if (countLines(log, "GET_STATE") < 6)
            return false;
        closedAt = Clock::now().time_since_epoch().count();
        return true;
    };
    SimServer server(worldWithOwn(), realTimeSource(), stop, 1986);
    const auto result = runProcess(NIMBUS_BOT_PATH);
    const auto exitedAt = Clock::now().time_since_epoch().count();
    server.join();
    EXPECT_THAT(result.output,
                StartsWith(withPlatformLineEnds("WSAStartup result: 0\nsocket up and running\n"
                                                "sending NAME\nrecieved HELLO Varnolt\n")));
    EXPECT_THAT(result.output, EndsWith(withPlatformLineEnds(
                                   "connection closed while waiting for data\nWSACleanup done\n")));
    EXPECT_EQ(result.exitCode, 0);
    const auto closeToExit = std::chrono::duration_cast<std::chrono::milliseconds>(
        Clock::duration(exitedAt - closedAt.load()));
    EXPECT_GE(closeToExit.count(), 1000);  // the one-second pause
    EXPECT_LT(closeToExit.count(), 1800);
}

TEST(BotGameTest, StalledTicksKeepTheBotPollingWithoutABusyLoop) {
    SimServer* serverPtr = nullptr;
    auto stop = [&serverPtr](const std::vector<SimEntry>& log) {
        if (log.size() == 4 && serverPtr != nullptr)
            serverPtr->freeze();
        return log.back().timeMs > 2500;
    };
    SimServer server(worldWithOwn(), realTimeSource(), stop, 1986);
    serverPtr = &server;
    const auto result = runProcess(NIMBUS_BOT_PATH);
    server.join();
    const auto log = server.log();
    // Frozen from the fourth line on: the bot keeps asking, about every 110 to 160 ms.
    const int states = countLines(log, "GET_STATE");
    EXPECT_GE(states, 12);
    EXPECT_LE(states, 30);
    EXPECT_EQ(log.back().tick, log[3].tick);
    EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
}  // namespace nimbus::testing
