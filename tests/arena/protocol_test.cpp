#include "arena/server/protocol.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "arena/game/wind_law.hpp"
#include "game_fixtures.hpp"

namespace nimbus::arena {
namespace {

using testing::storm;

TEST(ParseCommand, AcceptsTheThreeCommands) {
    const Command name = parseCommand("NAME Varnolt");
    EXPECT_EQ(name.kind, CommandKind::Name);
    EXPECT_EQ(name.name, "Varnolt");
    EXPECT_EQ(parseCommand("GET_STATE").kind, CommandKind::GetState);
    const Command wind = parseCommand("WIND -1.250000 3.500000");
    ASSERT_EQ(wind.kind, CommandKind::Wind);
    EXPECT_EQ(wind.wx, -1.25f);
    EXPECT_EQ(wind.wy, 3.5f);
    const Command rounded = parseCommand("WIND 0.100000 0");
    EXPECT_EQ(rounded.wx, 0.1f);  // read as a 32-bit float, like the bot's own value
}

TEST(ParseCommand, RejectsMalformedLinesWithAReason) {
    for (const char* line :
         {"", "NAME", "NAME   ", "GET_STATE now", "WIND", "WIND 1", "WIND 1 ", "WIND a 2",
          "WIND 1 2b", "WIND 1 2 3", "wind 1 2", "HELLO", " GET_STATE", "NAME a\x01"}) {
        const Command c = parseCommand(line);
        EXPECT_EQ(c.kind, CommandKind::Invalid) << '"' << line << '"';
        EXPECT_FALSE(c.error.empty()) << '"' << line << '"';
        EXPECT_LE(c.error.size(), kMaxReasonBytes) << c.error;
    }
    EXPECT_EQ(parseCommand("NAME " + std::string(kMaxNameBytes + 1, 'n')).kind,
              CommandKind::Invalid);
}

TEST(ParseCommand, NamesArePrintableUtf8WithinTheLimit) {
    // Each of these once became a player name and broke the results JSON at the end.
    for (const std::string bad :
         {"caf\xe9", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
          "a\xe2\x82", "\xc2\x85", "\x80", "a\x7f", "\xff"}) {
        const Command c = parseCommand("NAME " + bad);
        EXPECT_EQ(c.kind, CommandKind::Invalid) << bad;
        EXPECT_EQ(c.error, "bad name") << bad;
    }
    for (const std::string good : {"caf\xc3\xa9", "\xe2\x98\x81 nimbus", "\xf0\x9f\x8c\xa9",
                                   "\xc2\xa0"}) {
        EXPECT_EQ(parseCommand("NAME " + good).kind, CommandKind::Name) << good;
    }
    std::string wide;
    while (wide.size() + 2 <= kMaxNameBytes) {
        wide += "\xc3\xa9";
    }
    EXPECT_EQ(parseCommand("NAME " + wide).kind, CommandKind::Name);
    EXPECT_EQ(parseCommand("NAME " + wide + "\xc3\xa9").error, "bad name");
}

TEST(ParseCommand, NumbersBeyondTheFloatRangeBecomeInfiniteForTheRulesToRefuse) {
    const Command big = parseCommand("WIND 1e39 -1e39");
    ASSERT_EQ(big.kind, CommandKind::Wind);
    EXPECT_TRUE(std::isinf(big.wx) && big.wx > 0);
    EXPECT_TRUE(std::isinf(big.wy) && big.wy < 0);
    EXPECT_TRUE(std::isnan(parseCommand("WIND nan 0").wx));
    // The largest float's shortest text and the last double below halfway to 2^128 are finite.
    const float top = std::numeric_limits<float>::max();
    EXPECT_EQ(parseCommand("WIND 3.4028235e38 -3.4028235e38").wx, top);
    EXPECT_EQ(parseCommand("WIND 0x1.fffffefffffffp127 0").wx, top);
    EXPECT_TRUE(std::isinf(parseCommand("WIND 0x1.ffffffp127 0").wx));
}

// Numbers are rounded once, from the text to the nearest float. Through a double first, a number
// a hair off the midpoint of two floats became that midpoint, then went to the wrong side of it.
TEST(ParseCommand, NumbersRoundOnceFromTheTextToTheNearestFloat) {
    const float top = std::numeric_limits<float>::max();
    const struct {
        const char* text;
        float expected;
    } cases[] = {
        // 1 + 2^-24 (midway between 1 and the next float) plus a little: the float above 1.
        {"1.0000000596046447753906250000001", std::nextafter(1.0f, 2.0f)},
        // The same midway number less a little: 1.
        {"1.0000000596046447753906249999999", 1.0f},
        // Just below midway between the largest float and 2^128: the largest float, not inf.
        {"3.40282356779733661637539395458142568447e38", top},
        {"-3.40282356779733661637539395458142568447e38", -top},
        // Exactly midway: rounds to even, which is 2^128, beyond the floats.
        {"3.40282356779733661637539395458142568448e38", std::numeric_limits<float>::infinity()},
        // A little above half the smallest subnormal float (2^-150): that float, not 0.
        {"7.006492321624085354618647916449580656401309709382578858786e-46",
         std::numeric_limits<float>::denorm_min()},
    };
    for (const auto& c : cases) {
        const Command wind = parseCommand(std::string("WIND ") + c.text + " 0");
        ASSERT_EQ(wind.kind, CommandKind::Wind) << c.text;
        EXPECT_EQ(wind.wx, c.expected) << c.text;
    }
}

TEST(ParseCommand, RefusedWindRepliesFitTheBotsWindReplyBuffer) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const WindVerdict& v : {checkWind(100.0f, nan, 0.0f), checkWind(100.0f, 60.0f, 0.0f)}) {
        ASSERT_FALSE(v.accepted);
        EXPECT_LE(v.reason.size(), kMaxReasonBytes) << v.reason;
    }
    GameSettings s;
    s.players = 2;
    s.rainclouds = 0;
    s.ticks = 1;
    Game game(s);
    game.step();
    const WindVerdict over = game.queueWind(0, 1.0f, 0.0f);
    ASSERT_FALSE(over.accepted);
    EXPECT_LE(over.reason.size(), kMaxReasonBytes) << over.reason;
    EXPECT_LE(parseCommand("NAME " + std::string(kMaxNameBytes + 1, 'n')).error.size(),
              kMaxReasonBytes);
}

TEST(FormatState, ListsLivingPlayersInOrderWithTheAskersIndex) {
    GameSettings s;
    s.players = 3;
    s.rainclouds = 0;
    Cloud rain;
    rain.id = 3;
    rain.state = {100.5f, 200.25f, -1.5f, 0.125f, 16.0f};
    // Player 0 swallows player 1 in the first tick; nobody moves.
    Game game(s, {storm(0, 640, 360, 200), storm(1, 645, 360, 100), storm(2, 50, 50, 100), rain});
    game.step();
    EXPECT_EQ(formatState(game, 2),
              "BEGIN_STATE 1\n"
              "YOU 1\n"
              "THUNDERSTORM 640.000000 360.000000 0.000000 0.000000 300.000000\n"
              "THUNDERSTORM 50.000000 50.000000 0.000000 0.000000 100.000000\n"
              "RAINCLOUD 100.349998 200.262497 -1.498500 0.124875 16.000000\n"
              "END_STATE\n");
    EXPECT_NE(formatState(game, 0).find("YOU 0\n"), std::string::npos);
    EXPECT_NE(formatState(game, 1).find("YOU -1\n"), std::string::npos);
}

}  // namespace
}  // namespace nimbus::arena
