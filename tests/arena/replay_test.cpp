#include "arena/game/replay.hpp"

#include <gtest/gtest.h>

#include "arena/game/builtin_player.hpp"

namespace nimbus::arena {
namespace {

struct Played {
    nlohmann::json replay;
    std::vector<ResultRow> rows;
};

// A seeded game of greedy players, one of whom also sends a refused wind now and then.
Played playRecorded(std::int32_t ticks, std::int32_t players = 3) {
    GameSettings s;
    s.seed = 4242;
    s.ticks = ticks;
    s.players = players;
    Game game(s);
    ReplayRecorder recorder(game);
    while (!game.over()) {
        for (std::int32_t p = 0; p < players; ++p) {
            if (auto w = builtinWind(BuiltinKind::Greedy, game, p)) {
                game.queueWind(p, w->wx, w->wy);
            }
        }
        if (game.tick() % 50 == 0) {
            game.queueWind(0, 1000.0f, 0.0f);
        }
        game.step();
        recorder.capture(game);
    }
    std::vector<PlayerInfo> infos;
    for (std::int32_t p = 0; p < players; ++p) {
        infos.push_back({"greedy-" + std::to_string(p), "builtin", "", "", -1});
    }
    return {recorder.toJson(game, infos, 16, "ticks"), rankPlayers(&game, infos)};
}

TEST(Replay, VerifiesAnUntouchedRecordThroughText) {
    const Played played = playRecorded(300);
    const VerifyReport report = verifyReplay(nlohmann::json::parse(played.replay.dump()));
    EXPECT_TRUE(report.ok) << report.message;
    EXPECT_EQ(report.ticksChecked, 300);
    EXPECT_EQ(played.replay["frames"].size(), 301u);
}

TEST(Replay, RejectsAChangedWindFrameOrSeed) {
    const Played played = playRecorded(200);
    nlohmann::json wind = played.replay;
    for (auto& e : wind["events"]) {
        if (e["type"] == "wind" && e["accepted"] == true) {
            e["wx"] = e["wx"].get<double>() + 0.001;
            break;
        }
    }
    EXPECT_FALSE(verifyReplay(wind).ok);

    nlohmann::json frame = played.replay;
    frame["frames"][120][0][3] = frame["frames"][120][0][3].get<double>() + 0.01;
    const VerifyReport r = verifyReplay(frame);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.ticksChecked, 120);

    nlohmann::json seed = played.replay;
    seed["settings"]["seed"] = 4243;
    EXPECT_FALSE(verifyReplay(seed).ok);

    nlohmann::json cut = played.replay;
    cut["frames"].erase(cut["frames"].size() - 1);
    EXPECT_FALSE(verifyReplay(cut).ok);
    EXPECT_FALSE(verifyReplay(nlohmann::json::object()).ok);
}

TEST(Replay, RecordsWindsSwallowsAndEliminations) {
    const Played played = playRecorded(400);
    int winds = 0;
    int refused = 0;
    int swallows = 0;
    for (const auto& e : played.replay["events"]) {
        if (e["type"] == "wind") {
            ++winds;
            refused += e["accepted"] == false ? 1 : 0;
        }
        swallows += e["type"] == "swallow" ? 1 : 0;
    }
    int sent = 0;
    int rejected = 0;
    int swallowed = 0;
    for (const ResultRow& r : played.rows) {
        sent += r.record.winds;
        rejected += r.record.rejectedWinds;
        swallowed += r.record.swallowed;
    }
    EXPECT_EQ(winds, sent);
    EXPECT_EQ(refused, rejected);
    EXPECT_GE(refused, 8);  // the 1000-strong winds, every 50 ticks
    EXPECT_GE(swallows, swallowed);
    EXPECT_GT(swallowed, 0);
}

TEST(Replay, DefaultLengthGameStaysUnderTenMegabytes) {
    const Played played = playRecorded(3600, 4);
    EXPECT_LT(played.replay.dump().size(), 10u * 1024u * 1024u);
}

}  // namespace
}  // namespace nimbus::arena
