#include "arena/replay/verify.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "arena/replay/encoder.hpp"
#include "tests/arena/recorded_replay.hpp"

namespace nimbus::arena {
namespace {

using testing::gzip;
using testing::Played;
using testing::playRecorded;

// `name` stands for the file's name: only a ".partial" one may stop before its end.
VerifyReport verifyBytes(const std::string& bytes, const std::string& name = "game.jsonl.gz") {
    auto source = ReplaySource::memory(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size(), name);
    return verifyReplay(*source);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) {
        text += l + "\n";
    }
    return text;
}

TEST(Replay, VerifiesPlainAndCompressedRecordsAndCountsEveryWind) {
    const Played played = playRecorded(300);
    for (const std::string& bytes : {played.text, gzip(played.text)}) {
        const VerifyReport report = verifyBytes(bytes);
        EXPECT_TRUE(report.ok && !report.partial) << report.message;
        EXPECT_EQ(report.ticksChecked, 300);
    }
    // The lines hold every accepted wind, the end line the refused ones: together, all sent.
    std::int64_t winds = 0;
    std::int64_t refused = 0;
    int swallows = 0;
    for (const std::string& line : linesOf(played.text)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        winds += j.contains("w") ? static_cast<std::int64_t>(j["w"].size()) : 0;
        swallows += j.contains("s") ? static_cast<int>(j["s"].size()) : 0;
        for (const auto& r : j.value("refused", nlohmann::json::array())) {
            refused += r.get<std::int64_t>();
        }
    }
    std::int64_t sent = 0;
    int swallowed = 0;
    for (const ResultRow& r : played.rows) {
        sent += r.record.winds;
        swallowed += r.record.swallowed;
    }
    EXPECT_EQ(winds + refused, sent);
    EXPECT_GE(refused, 3 * 6);  // the 1000-strong, NaN and infinite winds, every 50 ticks
    EXPECT_GE(swallows, swallowed);
    EXPECT_GT(swallowed, 0);
}

TEST(Replay, FloatsAreShortAndReadBackExactly) {
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t bits = random();
        float v = 0.0f;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) {
            continue;
        }
        std::string text;
        appendFloat(text, v);
        const float back = nlohmann::json::parse(text).get<float>();
        ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
        ASSERT_LE(text.size(), 15u) << text;
    }
}

// Edits of a whole record: a divergence is a MISMATCH at its tick, a .partial record cut short is
// a partial replay that verifies up to its cut, and a file out of shape is not a replay.
TEST(Replay, TellsDivergencesCutsAndFilesOutOfShapeApart) {
    const Played played = playRecorded(200);
    const std::vector<std::string> lines = linesOf(played.text);
    enum Verdict { Mismatch, Partial, NotReplay };
    auto edited = [&](std::size_t at, const std::string& from, const std::string& to) {
        std::vector<std::string> l = lines;
        const std::size_t pos = l[at].find(from);
        EXPECT_NE(pos, std::string::npos) << from;
        l[at].replace(pos, from.size(), to);
        return joined(l);
    };
    std::size_t windLine = 1;
    while (lines[windLine].find("\"w\":[[") == std::string::npos) {
        ++windLine;
    }
    const std::string wind = lines[windLine].substr(lines[windLine].find("\"w\":[[") + 6, 3);
    std::vector<std::string> dropped = lines;
    dropped.erase(dropped.begin() + 120);
    const std::string whole = joined(lines);
    const std::string gz = gzip(whole);
    const std::vector<std::tuple<std::string, std::string, Verdict, std::int32_t>> cases = {
        {"a wind's player", edited(windLine, "\"w\":[[" + wind, "\"w\":[[9,"), NotReplay, 0},
        {"a position", edited(121, "\"p\":[", "\"p\":[0,1,2,"), Mismatch, 120},
        {"the seed", edited(0, "\"seed\":4242", "\"seed\":4243"), Mismatch, 0},
        {"the players", edited(0, "\"players\":3", "\"players\":2000"), NotReplay, 0},
        {"the ticks", edited(0, "\"ticks\":200", "\"ticks\":-1"), NotReplay, 0},
        {"a line's JSON", edited(50, "}", ""), NotReplay, 0},
        {"a tick left out", joined(dropped), NotReplay, 0},
        {"the end line", whole.substr(0, whole.size() - lines.back().size() - 1), Partial, 200},
        {"a cut line", whole.substr(0, whole.find("{\"t\":77")) + "{\"t\":77,\"p\":[1,", Partial,
         76},
        {"the compressed stream's tail", gz.substr(0, gz.size() - 60), Partial, -1},
        {"the compressed stream's middle", gz.substr(0, gz.size() / 2), Partial, -1},
        {"the end's fingerprint", edited(lines.size() - 1, "\"f\":\"", "\"f\":\"0"), Mismatch,
         200},
    };
    for (const auto& [what, bytes, verdict, ticks] : cases) {
        const VerifyReport r =
            verifyBytes(bytes, verdict == Partial ? "game.jsonl.gz.partial" : "game.jsonl.gz");
        EXPECT_EQ(r.ok, verdict == Partial) << what << ": " << r.message;
        EXPECT_EQ(r.partial, verdict == Partial) << what << ": " << r.message;
        EXPECT_EQ(r.notReplay, verdict == NotReplay) << what << ": " << r.message;
        if (ticks >= 0) {
            EXPECT_EQ(r.ticksChecked, ticks) << what;
        } else {
            EXPECT_GT(r.ticksChecked, 0) << what;
        }
        EXPECT_FALSE(r.message.empty());
    }
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A replay from the arena of issue 15's day (format version 1: one JSON text) still verifies,
// whole or compressed, and nothing in it is trusted.
TEST(Replay, VersionOneRecordsStillVerifyAndTrustNoNumberTheyRead) {
    const std::string text = fileText(NIMBUS_TEST_DATA "/version1-replay.json");
    for (const std::string& bytes : {text, gzip(text)}) {
        const VerifyReport report = verifyBytes(bytes);
        EXPECT_TRUE(report.ok) << report.message;
        EXPECT_EQ(report.ticksChecked, 120);
    }
    const nlohmann::json replay = nlohmann::json::parse(text);
    using P = nlohmann::json::json_pointer;
    const std::vector<std::pair<std::string, nlohmann::json>> bad = {
        {"/settings/players", 2147483647}, {"/settings/players", 0},
        {"/settings/players", 2.5},        {"/settings/rainclouds", 1u << 30},
        {"/settings/seed", -1},            {"/end_tick", 121},
        {"/frames/3", "x"},                {"/frames/3/0", {1, 2}},
        {"/fingerprints/2", 7},            {"/events", 1},
        {"/events/0/player", 3},           {"/events/0/wy", 1e39},
        {"/settings", nullptr},            {"/version", 3},
    };
    for (const auto& [at, value] : bad) {
        nlohmann::json r = replay;
        r[P(at)] = value;
        const VerifyReport report = verifyBytes(r.dump());
        EXPECT_TRUE(report.notReplay && !report.ok) << at << ": " << report.message;
    }
    nlohmann::json frame = replay;
    frame["frames"][100][0][3] = frame["frames"][100][0][3].get<double>() + 0.01;
    const VerifyReport r = verifyBytes(frame.dump());
    EXPECT_FALSE(r.ok || r.notReplay);
    EXPECT_EQ(r.ticksChecked, 100);
}

}  // namespace
}  // namespace nimbus::arena
