// The built nimbus-bot program, run as a user would run it, on the game's port 1986.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/run_process.hpp"

namespace nimbus {
namespace {

using testing::runProcess;

TEST(BotBinaryTest, WithoutAServerItReportsAndExitsCleanlyAfterOneSecond) {
    const auto result = runProcess(NIMBUS_BOT_PATH);
    EXPECT_EQ(result.output,
              "WSAStartup result: 0\n"
              "could not connect socket: 111\n"
              "WSACleanup done\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_GE(result.elapsed.count(), 1000);
}
}  // namespace
}  // namespace nimbus
