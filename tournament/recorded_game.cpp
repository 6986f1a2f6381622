#include "tournament/recorded_game.hpp"

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "arena/game/replay_format.hpp"
#include "arena/game/replay_stream.hpp"
#include "arena/limits.hpp"

namespace nimbus::tournament {

namespace {

arena::GameSettings settingsOf(const nlohmann::json& replay) {
    const nlohmann::json& s = replay.at("settings");
    arena::GameSettings settings;
    settings.seed = s.at("seed").get<std::uint64_t>();
    settings.ticks = s.at("ticks").get<std::int32_t>();
    settings.rainclouds = s.at("rainclouds").get<std::int32_t>();
    settings.players = s.at("players").get<std::int32_t>();
    return settings;
}

bool isFormat(const nlohmann::json& j, int version) {
    return j.is_object() && j.value("format", "") == arena::kReplayFormat &&
           j.value("version", 0) == version;
}

// Version 2: the header, then tick lines whose "w" are the winds their step applied (queued
// during the tick before), then the end line.
RecordedGame readLines(arena::ReplaySource& source, const nlohmann::json& header) {
    RecordedGame game;
    game.settings = settingsOf(header);
    std::string text;
    for (;;) {
        const arena::ReplaySource::Next next = source.nextLine(text, arena::kMaxReplayLineBytes);
        if (next != arena::ReplaySource::Next::Line)
            return game;  // cut short: the ticks read so far
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        if (!line.is_object())
            throw std::runtime_error("a line is not a JSON object");
        if (line.contains("end_tick")) {
            game.endTick = line["end_tick"].get<std::int32_t>();
            return game;
        }
        const auto tick = line.at("t").get<std::int32_t>();
        game.endTick = tick;
        for (const nlohmann::json& w : line.value("w", nlohmann::json::array()))
            game.winds.push_back({tick - 1, w.at(0).get<std::int32_t>(), w.at(1).get<float>(),
                                  w.at(2).get<float>()});
    }
}

// Version 1: one JSON text with a list of events.
RecordedGame readWhole(const nlohmann::json& json) {
    RecordedGame game;
    game.settings = settingsOf(json);
    game.endTick = json.at("end_tick").get<std::int32_t>();
    for (const nlohmann::json& e : json.at("events")) {
        if (e.at("type") == "wind")
            game.winds.push_back({e.at("tick").get<std::int32_t>(),
                                  e.at("player").get<std::int32_t>(), e.at("wx").get<float>(),
                                  e.at("wy").get<float>()});
    }
    std::stable_sort(
        game.winds.begin(), game.winds.end(),
        [](const arena::WindEvent& a, const arena::WindEvent& b) { return a.tick < b.tick; });
    return game;
}

}  // namespace

RecordedGame readRecordedGame(const std::filesystem::path& replay) {
    const std::unique_ptr<arena::ReplaySource> source = arena::ReplaySource::file(replay.string());
    if (!source->problem().empty())
        throw std::runtime_error("cannot read " + replay.string() + ": " + source->problem());
    try {
        std::string first;
        const bool line =
            source->nextLine(first, arena::kMaxReplayLineBytes) == arena::ReplaySource::Next::Line;
        const nlohmann::json header =
            line ? nlohmann::json::parse(first, nullptr, false) : nlohmann::json();
        if (isFormat(header, 2))
            return readLines(*source, header);
        std::string rest;
        if (!source->rest(rest, arena::kMaxReplayV1Bytes))
            throw std::runtime_error("not a whole replay");
        const nlohmann::json whole = nlohmann::json::parse(first + "\n" + rest, nullptr, false);
        if (!isFormat(whole, 1))
            throw std::runtime_error("not a replay of version 1 or 2");
        return readWhole(whole);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(replay.string() + " is not a replay: " + e.what());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(replay.string() + ": " + e.what());
    }
}

std::filesystem::path replayBeside(const std::filesystem::path& results) {
    const std::filesystem::path folder = results.parent_path();
    for (const char* name : {"replay.jsonl.gz", "replay.json"}) {
        if (std::filesystem::exists(folder / name))
            return folder / name;
    }
    return folder / "replay.jsonl.gz";
}

}  // namespace nimbus::tournament
