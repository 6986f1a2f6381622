#include "arena/game/replay.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "arena/game/builtin_player.hpp"

namespace nimbus::arena {
namespace {

struct Played {
    nlohmann::json replay;
    std::vector<ResultRow> rows;
};

// A seeded game of greedy players, one of whom also sends refused winds now and then: too strong,
// not a number, infinite.
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
            game.queueWind(0, std::numeric_limits<float>::quiet_NaN(), 0.0f);
            game.queueWind(0, 0.0f, -std::numeric_limits<float>::infinity());
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
        if (e["type"] == "wind") {
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
    std::int64_t winds = 0;
    std::int64_t refused = 0;
    int swallows = 0;
    for (const auto& e : played.replay["events"]) {
        winds += e["type"] == "wind" ? 1 : 0;
        swallows += e["type"] == "swallow" ? 1 : 0;
    }
    for (const auto& p : played.replay["players"]) {
        refused += p["refused"].get<std::int64_t>();
    }
    std::int64_t sent = 0;
    std::int64_t rejected = 0;
    int swallowed = 0;
    for (const ResultRow& r : played.rows) {
        sent += r.record.winds;
        rejected += r.record.rejectedWinds;
        swallowed += r.record.swallowed;
    }
    EXPECT_EQ(winds + refused, sent);  // the log holds the accepted winds only
    EXPECT_EQ(refused, rejected);
    EXPECT_GE(refused, 3 * 8);  // the 1000-strong, NaN and infinite winds, every 50 ticks
    EXPECT_GE(swallows, swallowed);
    EXPECT_GT(swallowed, 0);
}

TEST(Replay, NonFiniteWindsLeaveAReplayThatVerifies) {
    // Refused NaN and infinite winds were once written as null and made the replay unreadable.
    const Played played = playRecorded(120);
    const VerifyReport report = verifyReplay(nlohmann::json::parse(played.replay.dump()));
    EXPECT_TRUE(report.ok) << report.message;
}

TEST(Replay, VerifyTrustsNoNumberItReads) {
    // "players": 2147483647 once overflowed in the set-up, 200000000 allocated over 6 GB.
    const Played played = playRecorded(20);
    auto edited = [&](const nlohmann::json::json_pointer& at, const nlohmann::json& value) {
        nlohmann::json r = played.replay;
        r[at] = value;
        return verifyReplay(r);
    };
    using P = nlohmann::json::json_pointer;
    const std::vector<std::pair<std::string, nlohmann::json>> bad = {
        {"/settings/players", 2147483647},  {"/settings/players", 200000000},
        {"/settings/players", 0},           {"/settings/players", -3},
        {"/settings/players", 2.5},         {"/settings/players", "3"},
        {"/settings/rainclouds", 1u << 30}, {"/settings/ticks", -1},
        {"/settings/seed", -1},             {"/end_tick", 21},
        {"/frames/3", "x"},                 {"/frames/3/0", {1, 2}},
        {"/fingerprints/2", 7},             {"/events", 1},
        {"/settings", nullptr},
    };
    for (const auto& [at, value] : bad) {
        const VerifyReport r = edited(P(at), value);
        EXPECT_TRUE(r.notReplay && !r.ok) << at << " = " << value.dump() << ": " << r.message;
        EXPECT_FALSE(r.message.empty());
    }
    std::size_t wind = 0;
    while (played.replay["events"][wind]["type"] != "wind") {
        ++wind;
    }
    const std::string w = "/events/" + std::to_string(wind);
    for (const auto& [at, value] : std::vector<std::pair<std::string, nlohmann::json>>{
             {w + "/player", 3}, {w + "/player", -1}, {w + "/tick", 21}, {w + "/wx", nullptr},
             {w + "/wy", 1e39}, {w + "/wx", "1"}}) {
        EXPECT_TRUE(edited(P(at), value).notReplay) << at << " = " << value.dump();
    }
    // A wind the re-run refuses is a divergence, not a malformed file.
    const VerifyReport strong = edited(P(w + "/wx"), 1e6);
    EXPECT_FALSE(strong.ok || strong.notReplay) << strong.message;
}

TEST(Replay, DefaultLengthGameStaysUnderTenMegabytes) {
    const Played played = playRecorded(3600, 4);
    EXPECT_LT(played.replay.dump().size(), 10u * 1024u * 1024u);
}

}  // namespace
}  // namespace nimbus::arena
