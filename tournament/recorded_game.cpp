#include "tournament/recorded_game.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace nimbus::tournament {

RecordedGame readRecordedGame(const std::filesystem::path& replay) {
    std::ifstream in(replay);
    if (!in)
        throw std::runtime_error("cannot read " + replay.string());
    const nlohmann::json json = nlohmann::json::parse(in, nullptr, false);
    if (json.is_discarded() || !json.is_object() ||
        json.value("format", "") != "nimbus-arena-replay")
        throw std::runtime_error(replay.string() + " is not a replay");
    try {
        RecordedGame game;
        const nlohmann::json& s = json.at("settings");
        game.settings.seed = s.at("seed").get<std::uint64_t>();
        game.settings.ticks = s.at("ticks").get<std::int32_t>();
        game.settings.rainclouds = s.at("rainclouds").get<std::int32_t>();
        game.settings.players = s.at("players").get<std::int32_t>();
        game.endTick = json.at("end_tick").get<std::int32_t>();
        for (const nlohmann::json& e : json.at("events")) {
            if (e.at("type") == "wind")
                game.winds.push_back({e.at("tick").get<std::int32_t>(),
                                      e.at("player").get<std::int32_t>(), e.at("wx").get<float>(),
                                      e.at("wy").get<float>()});
        }
        // The analysis applies the winds tick by tick.
        std::stable_sort(
            game.winds.begin(), game.winds.end(),
            [](const arena::WindEvent& a, const arena::WindEvent& b) { return a.tick < b.tick; });
        return game;
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(replay.string() + " is not a replay: " + e.what());
    }
}

}  // namespace nimbus::tournament
