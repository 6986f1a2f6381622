// The arena through real sockets: every bad input gets its error while the game goes on, NAME
// replies wait for the start, abusive clients are dropped without holding up anyone else.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "arena/replay/verify.hpp"
#include "arena_client.hpp"

namespace nimbus::arena {
namespace {

using testing::ArenaClient;
using testing::RunningArena;

ArenaOptions quickOptions(std::int32_t players) {
    ArenaOptions o;
    o.players = players;
    o.ticks = 1000000;  // ends when the clients leave
    o.tickMs = 2;
    o.rainclouds = 40;
    o.seed = 99;
    o.lobbySeconds = 30.0;
    return o;
}

std::int32_t tickOf(const std::vector<std::string>& state) {
    std::int32_t tick = -1;
    if (!state.empty()) {
        std::sscanf(state.front().c_str(), "BEGIN_STATE %d", &tick);
    }
    return tick;
}

// Asks for states until the tick has moved past `after`; -1 if the connection failed.
std::int32_t tickAfter(ArenaClient& c, std::int32_t after) {
    for (int i = 0; i < 10000; ++i) {
        if (!c.send("GET_STATE\n")) {
            return -1;
        }
        const std::int32_t t = tickOf(c.readState());
        if (t < 0 || t > after) {
            return t;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
}

TEST(ArenaProtocol, EveryBadInputGetsAnErrorAndTheGameGoesOn) {
    RunningArena arena(quickOptions(1));
    {
        ArenaClient c(arena.port());
        ASSERT_TRUE(c.connected());
        // Before NAME.
        for (const char* line : {"GET_STATE\n", "WIND 1 1\n", "HELLO\n"}) {
            c.send(line);
            const auto reply = c.readLine();
            ASSERT_TRUE(reply.has_value());
            EXPECT_EQ(reply->rfind("ERROR ", 0), 0u) << line << " -> " << *reply;
        }
        c.send("NAME tester\r\n");
        EXPECT_EQ(c.readLine(), "OK tester");
        const std::int32_t first = tickAfter(c, -1);
        ASSERT_GE(first, 0);
        for (const char* line :
             {"NAME again\n", "WIND\n", "WIND 1\n", "WIND x y\n", "WIND 1 2 3\n", "HELLO\n", "\n",
              "GET_STATE please\n", "WIND nan 0\n", "WIND 0 inf\n", "WIND 1000 0\n"}) {
            c.send(line);
            const auto reply = c.readLine();
            ASSERT_TRUE(reply.has_value()) << line;
            EXPECT_EQ(reply->rfind("ERROR ", 0), 0u) << line << " -> " << *reply;
        }
        c.send("WIND 0.5 -0.25\r\n");
        EXPECT_EQ(c.readLine(), "OK");
        const std::int32_t later = tickAfter(c, first);
        EXPECT_GT(later, first);  // still ticking, still answering
    }
    arena.join();
    // The three well-formed but refused winds and the accepted one reached the rules.
    const PlayerRecord& r = arena.server().game()->record(0);
    EXPECT_EQ(r.winds, 4);
    EXPECT_EQ(r.rejectedWinds, 3);
}

TEST(ArenaProtocol, AFloodOfStateRequestsIsRefusedBeyondTheBudgetAndCounted) {
    ArenaOptions o = quickOptions(1);
    o.tickMs = 1000;  // one tick for the whole flood
    o.rainclouds = 0;  // short replies: the flood's replies stay within what a reader may owe
    RunningArena arena(o);
    {
        ArenaClient c(arena.port());
        c.send("NAME flood\n");
        EXPECT_EQ(c.readLine(), "OK flood");
        const int sent = statesPerTick(o.tickMs) + 50;
        std::string burst;
        for (int i = 0; i < sent; ++i) {
            burst += "GET_STATE\n";
        }
        c.send(burst);
        int states = 0;
        int refused = 0;
        while (states + refused < sent) {
            const auto line = c.readLine();
            ASSERT_TRUE(line.has_value());
            states += line->rfind("BEGIN_STATE 0", 0) == 0 ? 1 : 0;
            refused += *line == "ERROR over budget" ? 1 : 0;
        }
        EXPECT_EQ(states, statesPerTick(o.tickMs));
        EXPECT_EQ(refused, 50);
    }
    arena.join();
    EXPECT_EQ(arena.server().overBudget(0), 50);
}

TEST(ArenaProtocol, NameRepliesWaitUntilEveryPlayerIsThere) {
    RunningArena arena(quickOptions(2));
    ArenaClient a(arena.port());
    ArenaClient b(arena.port());
    a.send("NAME alpha\nGET_STATE\n");  // the state request waits behind the held NAME reply
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    b.send("NAME alpha\n");  // a taken name gets a suffix
    EXPECT_EQ(a.readLine(), "OK alpha");
    const auto state = a.readState();
    ASSERT_FALSE(state.empty());
    EXPECT_EQ(tickOf(state), 0);
    EXPECT_EQ(state[1], "YOU 0");
    int storms = 0;
    for (const auto& line : state) {
        storms += line.rfind("THUNDERSTORM ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(storms, 2);
    EXPECT_EQ(state.size(), 2u + 2u + 40u + 1u);
    EXPECT_EQ(b.readLine(), "OK alpha-2");
    b.send("GET_STATE\n");
    const auto stateB = b.readState();
    ASSERT_GE(stateB.size(), 2u);
    EXPECT_EQ(stateB[1], "YOU 1");
}

TEST(ArenaProtocol, LobbyStartsAfterItsTimeWithWhoeverCame) {
    ArenaOptions o = quickOptions(3);
    o.lobbySeconds = 0.2;
    RunningArena arena(o);
    ArenaClient a(arena.port());
    a.send("NAME lonely\n");
    EXPECT_EQ(a.readLine(), "OK lonely");
    a.send("GET_STATE\n");
    const auto state = a.readState();
    ASSERT_GE(state.size(), 3u);
    EXPECT_EQ(state[1], "YOU 0");
    EXPECT_EQ(state[2].rfind("THUNDERSTORM ", 0), 0u);
    EXPECT_EQ(state[3].rfind("RAINCLOUD ", 0), 0u);  // only one player
    // A latecomer may not join a running game.
    ArenaClient late(arena.port());
    late.send("NAME late\n");
    const auto reply = late.readLine();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->rfind("ERROR ", 0), 0u);
}

TEST(ArenaProtocol, OverlongLineEndsOnlyThatConnection) {
    RunningArena arena(quickOptions(2));
    ArenaClient a(arena.port());
    ArenaClient b(arena.port());
    a.send("NAME a\n");
    b.send("NAME b\n");
    ASSERT_EQ(a.readLine(), "OK a");
    ASSERT_EQ(b.readLine(), "OK b");
    const std::int32_t before = tickAfter(b, -1);
    a.send("WIND " + std::string(5000, '1'));
    EXPECT_TRUE(a.waitForClose());
    EXPECT_TRUE(arena.logContains("over 4096 bytes"));
    EXPECT_GT(tickAfter(b, before), before);
}

TEST(ArenaProtocol, ClientThatNeverReadsIsDroppedWhileOthersPlayOn) {
    RunningArena arena(quickOptions(2));
    ArenaClient reader(arena.port());
    ArenaClient hog(arena.port(), 4096);
    reader.send("NAME reader\n");
    hog.send("NAME hog\n");
    ASSERT_EQ(reader.readLine(), "OK reader");
    const std::int32_t before = tickAfter(reader, -1);
    std::string flood;
    for (int i = 0; i < 1000; ++i) {
        flood += "GET_STATE\n";
    }
    // Most replies are the 18-byte refusals over the budget, and the kernel's socket buffers take
    // up to some 4 MiB of them before the arena's own backlog grows: flood until it says so.
    for (int i = 0; i < 2000 && !arena.logContains("1 MiB"); ++i) {
        if (!hog.send(flood)) {
            break;
        }
    }
    for (int i = 0; i < 1000 && !arena.logContains("1 MiB"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(arena.logContains("hog) left more than 1 MiB of replies unread"));
    EXPECT_TRUE(hog.waitForClose());
    EXPECT_GT(tickAfter(reader, before), before);
}

TEST(ArenaProtocol, GameEndsAtTheTickLimitAndClosesConnections) {
    ArenaOptions o = quickOptions(1);
    o.ticks = 30;
    o.replayPath = ::testing::TempDir() + "/ticks.replay.jsonl.gz";
    RunningArena arena(o);
    ArenaClient c(arena.port());
    c.send("NAME short\n");
    EXPECT_EQ(c.readLine(), "OK short");
    std::int32_t last = 0;
    while (true) {
        const std::int32_t t = tickAfter(c, last);
        if (t < 0) {
            break;
        }
        last = t;
    }
    EXPECT_LE(last, 30);
    arena.join();
    ASSERT_NE(arena.server().game(), nullptr);
    EXPECT_EQ(arena.server().game()->tick(), 30);
    EXPECT_EQ(arena.server().endReason(), "ticks");
    auto replay = ReplaySource::file(o.replayPath);
    const VerifyReport report = verifyReplay(*replay);
    EXPECT_TRUE(report.ok && !report.partial) << report.message;
    EXPECT_EQ(report.ticksChecked, 30);
}

TEST(ArenaProtocol, WhenTheLastClientLeavesTheRestOfTheGameRunsUnpaced) {
    ArenaOptions o = quickOptions(1);
    o.ticks = 20000;
    o.tickMs = 50;  // paced, the game would last over 16 minutes
    RunningArena arena(o);
    {
        ArenaClient c(arena.port());
        c.send("NAME brief\n");
        EXPECT_EQ(c.readLine(), "OK brief");
        c.send("WIND 1 0\nWIND 100 0\n");
        EXPECT_EQ(c.readLine(), "OK");
        EXPECT_EQ(c.readLine()->rfind("ERROR ", 0), 0u);
    }
    arena.join();
    EXPECT_TRUE(arena.logContains("playing the remaining ticks unpaced"));
    const Game& game = *arena.server().game();
    EXPECT_TRUE(game.tick() == 20000 || game.isOut(0));
    const PlayerRecord& r = game.record(0);
    EXPECT_EQ(r.winds, 2);
    EXPECT_EQ(r.rejectedWinds, 1);
    const auto rows = rankPlayers(&game, arena.server().resultPlayers());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].status, PlayerStatus::Disconnected);
    EXPECT_GE(rows[0].info.leftAtTick, 0);
    EXPECT_LT(rows[0].info.leftAtTick, 1000);
}

TEST(ArenaProtocol, TheLobbyEndsAfterItsTimeEvenWithNobodyInIt) {
    ArenaOptions o = quickOptions(2);
    o.lobbySeconds = 0.3;
    RunningArena arena(o);
    arena.join();
    EXPECT_EQ(arena.server().game(), nullptr);
    EXPECT_EQ(arena.server().endReason(), "no_players");
    EXPECT_TRUE(arena.logContains("no player named itself within 0.3 s"));
}

TEST(ArenaSetup, RejectsUnknownBuiltinsAndTakenPorts) {
    asio::io_context io;
    ArenaOptions o = quickOptions(1);
    o.port = 0;
    o.bots = {"builtin:wizard"};
    EXPECT_THROW(ArenaServer(io, o, [](const std::string&, bool) {}), std::invalid_argument);
    o.bots = {"builtin:idle"};
    ArenaServer first(io, o, [](const std::string&, bool) {});
    o.port = first.port();
    EXPECT_THROW(ArenaServer(io, o, [](const std::string&, bool) {}), std::system_error);
}

TEST(ArenaGame, BuiltinsPlayAWholeGameAlone) {
    ArenaOptions o;
    o.port = 0;
    o.bots = {"builtin:greedy", "builtin:idle", "builtin:greedy"};
    o.ticks = 200;
    o.tickMs = 1;
    o.seed = 5;
    RunningArena arena(o);
    arena.join();
    ASSERT_NE(arena.server().game(), nullptr);
    EXPECT_EQ(arena.server().game()->tick(), 200);
    const auto& players = arena.server().players();
    ASSERT_EQ(players.size(), 3u);
    EXPECT_EQ(players[0].name, "greedy");
    EXPECT_EQ(players[1].name, "idle");
    EXPECT_EQ(players[2].name, "greedy-2");
    EXPECT_EQ(players[2].kind, "builtin");
    EXPECT_GT(arena.server().game()->record(0).winds, 0);
    EXPECT_EQ(arena.server().game()->record(1).winds, 0);
}

TEST(ArenaProtocol, ConnectionsThatLeaveWithoutANameLeaveNothingBehind) {
    RunningArena arena(quickOptions(1));
    for (int i = 0; i < 100; ++i) {
        ArenaClient drifter(arena.port());
        ASSERT_TRUE(drifter.connected());
        drifter.send("GET_STATE\n");
        drifter.readLine();
    }
    {
        ArenaClient c(arena.port());
        c.send("NAME stays\n");
        ASSERT_EQ(c.readLine(), "OK stays");
        EXPECT_GE(tickAfter(c, 2), 3);
    }
    arena.join();
    EXPECT_LE(arena.server().sessionCount(), 1u);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ArenaGame, ABotThatCrashesMidGameRanksBelowTheBuiltinsAndTheRestRunsUnpaced) {
    // A shell bot: names itself, prints its NAME reply and one state's first line, then exits.
    const std::string bot =
        "bash -c 'exec 3<>/dev/tcp/127.0.0.1/$NIMBUS_ARENA_PORT; echo NAME shell >&3; "
        "read -r a <&3; echo \"got $a\"; echo GET_STATE >&3; read -r b <&3; echo \"then $b\"; "
        "exit 3'";
    ArenaOptions o;
    o.port = 0;
    o.bots = {bot, "builtin:idle", "builtin:greedy"};
    o.ticks = 20000;
    o.tickMs = 50;  // paced, the game would last over 16 minutes
    o.seed = 8;
    o.logDir = ::testing::TempDir();
    o.replayPath = o.logDir + "/crash.replay.jsonl.gz";
    RunningArena arena(o);
    arena.join();
    const ArenaServer& server = arena.server();
    ASSERT_NE(server.game(), nullptr);
    EXPECT_TRUE(server.endReason() == "ticks" || server.endReason() == "one_left");
    // Numbered as the BOTs were given, though the builtins joined first: a tournament that
    // rotates its BOTs rotates the start places.
    const auto& players = server.players();
    ASSERT_EQ(players.size(), 3u);
    EXPECT_EQ(players[0].name, "shell");
    EXPECT_EQ(players[0].kind, "bot");
    EXPECT_EQ(players[0].command, bot);
    EXPECT_EQ(players[1].name, "idle");
    EXPECT_EQ(players[2].name, "greedy");
    ASSERT_FALSE(players[0].log.empty());
    EXPECT_EQ(fileText(players[0].log), "got OK shell\nthen BEGIN_STATE 0\n");

    const auto rows = rankPlayers(server.game(), server.resultPlayers());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].info.name, "shell");
    EXPECT_EQ(rows[2].status, PlayerStatus::Disconnected);
    EXPECT_NE(rows[0].status, PlayerStatus::Disconnected);
    EXPECT_NE(rows[1].status, PlayerStatus::Disconnected);
    auto replay = ReplaySource::file(o.replayPath);
    const VerifyReport report = verifyReplay(*replay);
    EXPECT_TRUE(report.ok && !report.partial) << report.message;
}

TEST(ArenaGame, StartedBotsInheritOnlyTheirStandardStreams) {
    ArenaOptions o;
    o.port = 0;
    o.bots = {"exec ls /proc/self/fd", "builtin:idle"};
    o.logDir = ::testing::TempDir();
    o.lobbySeconds = 60.0;
    o.seed = 31;
    RunningArena arena(o);
    arena.join();
    // 0, 1 and 2, and the descriptor ls opened to read the listing itself.
    EXPECT_EQ(fileText(o.logDir + "/nimbus-arena-31-bot1.log"), "0\n1\n2\n3\n");
}

TEST(ArenaGame, BotsThatNeverNameThemselvesAreAbsentAndTheirLogsTellWhy) {
    ArenaOptions o;
    o.port = 0;
    o.bots = {"echo cannot start; exit 3", "builtin:greedy"};
    o.logDir = ::testing::TempDir();
    o.lobbySeconds = 60.0;
    o.ticks = 200;
    o.seed = 41;
    {
        RunningArena arena(o);
        arena.join();
        ASSERT_NE(arena.server().game(), nullptr);  // the builtin plays without waiting
        EXPECT_TRUE(arena.logContains("every bot exited before naming itself"));
        EXPECT_TRUE(arena.logContains("| cannot start"));
        const auto rows = rankPlayers(arena.server().game(), arena.server().resultPlayers());
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].info.name, "greedy");
        EXPECT_EQ(rows[1].status, PlayerStatus::Absent);
        EXPECT_EQ(rows[1].player, 1);
        EXPECT_EQ(rows[1].info.command, "echo cannot start; exit 3");
    }
    o.bots = {"exit 0"};
    RunningArena alone(o);
    alone.join();
    EXPECT_EQ(alone.server().game(), nullptr);
    EXPECT_EQ(alone.server().endReason(), "no_players");
    ASSERT_EQ(alone.server().resultPlayers().size(), 1u);
}

TEST(ProgressLine, ShowsAPercentageAndNeverOutgrowsTheWidth) {
    const std::vector<ProgressEntry> players{{"alpha", 101.25f, true}, {"beta", 0.0f, false}};
    EXPECT_EQ(progressText(900, 3600, players, 200), "tick 900/3600  25%  alpha 101.2  beta out");
    EXPECT_EQ(progressText(900, 3600, players, 31), "tick 900/3600  25%  alpha 101.2");
    EXPECT_EQ(progressText(900, 3600, players, 30), "tick 900/3600  25%");
    EXPECT_EQ(progressText(3600, 3600, players, 8), "tick 360");
}

TEST(ArenaGame, AStartedBotsSeatIsTakenOnlyByItAndExtraSeatsAreOpen) {
    // Two outsiders naming themselves first once filled the lobby and shut the started bot out.
    const std::string bot =
        "sleep 0.5; bash -c 'exec 3<>/dev/tcp/127.0.0.1/$NIMBUS_ARENA_PORT; echo NAME shell >&3; "
        "read -r a <&3; echo \"got $a\"'";
    ArenaOptions o;
    o.port = 0;
    o.bots = {bot, "builtin:idle"};
    o.players = 3;  // one seat beyond the started bot, open to anyone
    o.ticks = 100000;
    o.tickMs = 2;
    o.lobbySeconds = 30.0;
    o.logDir = ::testing::TempDir();
    RunningArena arena(o);
    {
        ArenaClient first(arena.port());
        ArenaClient second(arena.port());
        first.send("NAME outsider\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        second.send("NAME outsider\n");
        EXPECT_EQ(second.readLine(), "ERROR seat reserved");  // the open seat went to the first
        EXPECT_EQ(first.readLine(), "OK outsider");           // once the bot has joined too
        first.send("GET_STATE\n");
        EXPECT_FALSE(first.readState().empty());
    }
    arena.join();
    const auto& players = arena.server().players();
    ASSERT_EQ(players.size(), 3u);
    // The BOTs in the order given, though the outsider named itself first; clients after them.
    EXPECT_EQ(players[0].name, "shell");
    EXPECT_EQ(players[0].kind, "bot");
    EXPECT_EQ(players[1].name, "idle");
    EXPECT_EQ(players[2].name, "outsider");
    EXPECT_EQ(players[2].kind, "client");
    EXPECT_EQ(fileText(players[0].log), "got OK shell\n");
}

}  // namespace
}  // namespace nimbus::arena
