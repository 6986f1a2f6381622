// The game analysis: worked games with hand-placed clouds, and whole seeded games whose figures
// must agree with what the game itself recorded, from the game library and from a replay of
// version 1 (read as the verifier reads it, hostile ones refused as it refuses them).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "arena/game/builtin_player.hpp"
#include "arena/game/wind_law.hpp"
#include "tests/arena/game_fixtures.hpp"
#include "tests/arena/recorded_replay.hpp"
#include "tournament/analysis/game_analysis.hpp"
#include "tournament/analysis/recorded_game.hpp"

namespace nimbus::tournament {
namespace {

using arena::testing::rain;
using arena::testing::settingsFor;
using arena::testing::storm;

std::int32_t chases(const PlayerFigures& f, ChaseEnd how) {
    return f.chases[static_cast<std::size_t>(how)];
}

// Player 0 blows at raincloud 3 (mass 20, 100 to its right) and, later, a small wind at nothing;
// player 1 blows itself into player 2, which is heavier. With raincloud 4 coming down on
// raincloud 3, raincloud 4 swallows it first and moves on: player 0's chase is taken.
TEST(GameAnalysis, AttributesEveryGainLossAndWindOfAWorkedGame) {
    for (const bool rivalRain : {false, true}) {
        SCOPED_TRACE(rivalRain ? "raincloud 3 taken" : "raincloud 3 caught");
        RecordedGame game;
        game.settings = settingsFor(3, 400);
        game.start = {storm(0, 200, 360), storm(1, 640, 100), storm(2, 640, 160, 150),
                      rain(3, 300, 360, 20)};
        if (rivalRain)
            game.start.push_back(rain(4, 300, 460, 50, 0, -10));
        game.endTick = 400;
        game.winds = {{0, 0, 10, 0}, {0, 1, 0, 10}, {300, 0, 0, -1}};
        const std::vector<PlayerFigures> f = analyzeGame(game);
        ASSERT_EQ(f.size(), 3u);

        EXPECT_DOUBLE_EQ(f[0].windSpent, 11.0);
        EXPECT_EQ(f[0].winds, 2);
        EXPECT_EQ(chases(f[0], rivalRain ? ChaseEnd::Taken : ChaseEnd::Caught), 1);
        EXPECT_DOUBLE_EQ(f[0].chaseWind, 10.0);
        EXPECT_DOUBLE_EQ(f[0].missedChaseWind, rivalRain ? 10.0 : 0.0);
        EXPECT_DOUBLE_EQ(f[0].rainGain, rivalRain ? 0.0 : 20.0);
        EXPECT_EQ(f[0].rainCaught, rivalRain ? 0 : 1);
        EXPECT_DOUBLE_EQ(f[0].finalMass, 100.0 - 11.0 + f[0].rainGain);

        EXPECT_EQ(f[1].outAtTick > 0, true);
        EXPECT_EQ(f[1].swallowedBy, 2);
        EXPECT_DOUBLE_EQ(f[1].lostSwallowed, 90.0);
        EXPECT_DOUBLE_EQ(f[1].finalMass, 0.0);
        EXPECT_EQ(f[1].chases, (std::array<std::int32_t, kChaseEnds>{}));  // blown at a heavier

        EXPECT_DOUBLE_EQ(f[2].playerGain, 90.0);
        EXPECT_EQ(f[2].playersCaught, 1);
        EXPECT_DOUBLE_EQ(f[2].finalMass, 240.0);
    }
}

// Greedy players through the game library: the analysis re-runs the game from its winds and must
// find what the game counted, and every player's mass must add up.
TEST(GameAnalysis, AgreesWithTheGameOnWholeSeededGames) {
    for (const std::uint64_t seed : {3u, 8u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        arena::GameSettings settings;
        settings.seed = seed;
        settings.players = 4;
        settings.ticks = 1500;
        arena::Game game(settings);
        while (!game.over()) {
            for (std::int32_t p = 0; p < settings.players; ++p) {
                if (const auto w = arena::builtinWind(arena::BuiltinKind::Greedy, game, p))
                    game.queueWind(p, w->wx, w->wy);
            }
            game.step();
        }
        const std::vector<PlayerFigures> f =
            analyzeGame({settings, {}, game.tick(), game.windLog()});
        for (std::int32_t p = 0; p < settings.players; ++p) {
            const arena::PlayerRecord& r = game.record(p);
            const PlayerFigures& x = f[static_cast<std::size_t>(p)];
            EXPECT_EQ(x.winds, r.winds - r.rejectedWinds);
            EXPECT_EQ(x.rainCaught + x.playersCaught, r.swallowed);
            EXPECT_EQ(x.outAtTick, r.outAtTick);
            const arena::Cloud* own = game.thunderstorm(p);
            EXPECT_DOUBLE_EQ(x.finalMass, own != nullptr ? own->state.mass : 0.0);
            EXPECT_NEAR(x.startMass + x.rainGain + x.playerGain - x.windSpent - x.lostSwallowed,
                        x.finalMass, 0.01);
            std::int32_t ended = 0;
            for (const std::int32_t c : x.chases)
                ended += c;
            EXPECT_GE(x.winds, ended);
        }
    }
}

// The format-1 record of tests/arena/data (greedy, greedy-2 and idle, seed 5, 120 ticks of 16 ms,
// 10 rainclouds) against the game the builtins play live with its settings; and hostile records
// the verifier refuses, refused with its reasons.
TEST(GameAnalysis, ReadsAFormat1ReplayAsTheVerifierDoes) {
    GameOutcome outcome;
    outcome.seed = 5;
    outcome.ticks = 120;
    outcome.rainclouds = 10;
    outcome.tickMs = 16;
    const char* names[] = {"greedy", "greedy-2", "idle"};
    for (std::int32_t p = 0; p < 3; ++p)
        outcome.seats.push_back(
            {p < 2 ? "builtin:greedy" : "builtin:idle", 1, 0.0, "playing", "", p, names[p]});
    arena::GameSettings settings{5, 120, 10, 3};
    arena::Game live(settings);
    while (!live.over()) {
        for (std::int32_t p = 0; p < 2; ++p) {
            if (const auto w = arena::builtinWind(arena::BuiltinKind::Greedy, live, p))
                live.queueWind(p, w->wx, w->wy);
        }
        live.step();
    }

    std::ifstream in(NIMBUS_TEST_DATA "/version1-replay.json", std::ios::binary);
    const std::string v1(std::istreambuf_iterator<char>(in), {});
    const std::string start = R"({"format":"nimbus-arena-replay","version":1,"x":)";
    struct Row {
        const char* what;
        std::string bytes;
        const char* refused;  // part of the reason; nullptr: read
    };
    const Row rows[] = {
        {"the record", v1, nullptr},
        {"the record, gzip", arena::testing::gzip(v1), nullptr},
        {"the record cut short, gzip", arena::testing::gzip(v1).substr(0, 4000),
         "not a whole replay: the file is incomplete"},
        {"nested 20 deep", start + std::string(20, '[') + std::string(20, ']') + "}",
         "nested deeper than any replay"},
        {"a string of 4 MiB", start + "\"" + std::string(4 << 20, 'a') + "\"}",
         "more than 65536 bytes in a string or number"},
    };
    const std::filesystem::path path = ::testing::TempDir() + "/v1-replay.json";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::ofstream(path, std::ios::binary) << row.bytes;
        if (row.refused != nullptr) {
            try {
                readRecordedGame(path, outcome);
                ADD_FAILURE() << "read";
            } catch (const std::runtime_error& e) {
                EXPECT_NE(std::string(e.what()).find(row.refused), std::string::npos) << e.what();
            }
            continue;
        }
        const RecordedGame recorded = readRecordedGame(path, outcome);
        EXPECT_EQ(recorded.endTick, 120);
        EXPECT_EQ(recorded.winds.size(), live.windLog().size());
        const std::vector<PlayerFigures> f = analyzeGame(recorded);
        for (std::int32_t p = 0; p < 3; ++p) {
            const arena::Cloud* own = live.thunderstorm(p);
            EXPECT_EQ(f[static_cast<std::size_t>(p)].winds,
                      live.record(p).winds - live.record(p).rejectedWinds);
            EXPECT_DOUBLE_EQ(f[static_cast<std::size_t>(p)].finalMass, own->state.mass);
        }
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace nimbus::tournament
