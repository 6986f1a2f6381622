// nimbus-arena's exit codes and option errors, through the built program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "tests/support/run_process.hpp"

namespace nimbus {
namespace {

using ::testing::HasSubstr;

// Runs the arena with the arguments (shell words); standard error joins standard output.
testing::ProcessResult arena(const std::string& args) {
    return testing::runProcess(
        "/bin/sh", {"-c", std::string("exec ") + NIMBUS_ARENA_PATH + " " + args + " 2>&1"});
}

TEST(ArenaCli, EveryExitCode) {
    const std::string dir = ::testing::TempDir();
    // 0: a game was played.
    const auto played = arena("--port 0 --seed 3 --ticks 50 --quiet --results " + dir +
                              "/cli-results.json builtin:idle builtin:greedy");
    EXPECT_EQ(played.exitCode, 0) << played.output;
    std::ifstream in(dir + "/cli-results.json");
    const nlohmann::json results = nlohmann::json::parse(in);
    EXPECT_EQ(results["ticks_played"], 50);
    EXPECT_EQ(results["end_reason"], "ticks");

    // 1: no game could be played (nobody came within the lobby).
    const auto empty = arena("--port 0 --players 2 --lobby-seconds 0.2 --quiet");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_THAT(empty.output, HasSubstr("nimbus-arena: no game was played"));

    // 2: usage errors, CLI11's own included, all in the program's words.
    for (const char* bad :
         {"--ticks abc builtin:idle", "--lobby-seconds 1x builtin:idle", "--seed -1 builtin:idle",
          "--seed 18446744073709551616 builtin:idle", "--bogus builtin:idle",
          "--ticks 0 builtin:idle", "", "builtin:nobody"}) {
        const auto r = arena(bad);
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_EQ(r.output.rfind("nimbus-arena: ", 0), 0u) << bad << ": " << r.output;
    }
    EXPECT_THAT(arena("--ticks abc builtin:idle").output, HasSubstr("not a number"));
    EXPECT_THAT(arena("--seed -1 builtin:idle").output, HasSubstr("out of range"));
    EXPECT_EQ(arena("--seed 18446744073709551615 --port 0 --ticks 5 --quiet builtin:idle").exitCode,
              0);

    // 3: the port is in use.
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const auto taken = arena("--port " + std::to_string(ntohs(address.sin_port)) + " builtin:idle");
    ::close(holder);
    EXPECT_EQ(taken.exitCode, 3);
    EXPECT_THAT(taken.output, HasSubstr("nimbus-arena: cannot listen"));

    // --help documents them and exits 0.
    const auto help = arena("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.output, HasSubstr("3 the port is in use"));
}

}  // namespace
}  // namespace nimbus
