#include "arena/game/replay.hpp"

#include <cmath>
#include <cstdio>
#include <map>

namespace nimbus::arena {

namespace {

double rounded(float v) {
    return std::round(static_cast<double>(v) * 100.0) / 100.0;
}

std::string hex(std::uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

nlohmann::json frameJson(const Game& game) {
    nlohmann::json frame = nlohmann::json::array();
    for (const Cloud& c : game.clouds()) {
        const char* kind = c.kind == CloudKind::Thunderstorm ? "T" : "R";
        frame.push_back(
            {c.id, kind, c.owner, rounded(c.state.x), rounded(c.state.y), rounded(c.state.mass)});
    }
    return frame;
}

}  // namespace

ReplayRecorder::ReplayRecorder(const Game& game) {
    for (const Cloud& c : game.clouds()) {
        kinds_.push_back(c.kind == CloudKind::Thunderstorm ? 'T' : 'R');
        owners_.push_back(c.owner);
    }
    capture(game);
}

void ReplayRecorder::capture(const Game& game) {
    std::vector<FrameCloud> frame;
    frame.reserve(game.clouds().size());
    for (const Cloud& c : game.clouds()) {
        frame.push_back({c.id, c.state.x, c.state.y, c.state.mass});
    }
    frames_.push_back(std::move(frame));
    fingerprints_.push_back(game.fingerprint());
}

nlohmann::json ReplayRecorder::toJson(const Game& game, const std::vector<PlayerInfo>& players,
                                      std::int32_t tickMs, const std::string& endReason) const {
    const GameSettings& s = game.settings();
    nlohmann::json out;
    out["format"] = "nimbus-arena-replay";
    out["version"] = 1;
    out["settings"] = {{"seed", s.seed},       {"ticks", s.ticks},  {"rainclouds", s.rainclouds},
                       {"players", s.players}, {"tick_ms", tickMs}, {"arena", {1280, 720}}};
    nlohmann::json ps = nlohmann::json::array();
    for (std::size_t i = 0; i < players.size(); ++i) {
        ps.push_back({{"index", i}, {"name", players[i].name}, {"kind", players[i].kind}});
    }
    out["players"] = ps;
    out["end_tick"] = game.tick();
    out["end_reason"] = endReason;
    out["frame_fields"] = {"id", "kind", "owner", "x", "y", "mass"};
    nlohmann::json frames = nlohmann::json::array();
    for (const std::vector<FrameCloud>& f : frames_) {
        nlohmann::json frame = nlohmann::json::array();
        for (const FrameCloud& c : f) {
            frame.push_back({c.id, std::string(1, kinds_[c.id]), owners_[c.id], rounded(c.x),
                             rounded(c.y), rounded(c.mass)});
        }
        frames.push_back(std::move(frame));
    }
    out["frames"] = std::move(frames);
    nlohmann::json prints = nlohmann::json::array();
    for (std::uint64_t p : fingerprints_) {
        prints.push_back(hex(p));
    }
    out["fingerprints"] = std::move(prints);
    nlohmann::json events = nlohmann::json::array();
    for (const WindEvent& w : game.windLog()) {
        events.push_back({{"type", "wind"},
                          {"tick", w.tick},
                          {"player", w.player},
                          {"wx", w.wx},
                          {"wy", w.wy},
                          {"accepted", w.accepted}});
    }
    for (const SwallowEvent& e : game.swallowLog()) {
        events.push_back(
            {{"type", "swallow"}, {"tick", e.tick}, {"by", e.by}, {"victim", e.victim}});
        if (e.victim < s.players) {
            events.push_back({{"type", "eliminated"}, {"tick", e.tick}, {"player", e.victim}});
        }
    }
    out["events"] = std::move(events);
    return out;
}

VerifyReport verifyReplay(const nlohmann::json& replay) {
    VerifyReport report;
    try {
        const nlohmann::json& s = replay.at("settings");
        GameSettings settings;
        settings.seed = s.at("seed").get<std::uint64_t>();
        settings.ticks = s.at("ticks").get<std::int32_t>();
        settings.rainclouds = s.at("rainclouds").get<std::int32_t>();
        settings.players = s.at("players").get<std::int32_t>();
        const std::int32_t endTick = replay.at("end_tick").get<std::int32_t>();
        const nlohmann::json& frames = replay.at("frames");
        const nlohmann::json& prints = replay.at("fingerprints");
        if (settings.players < 1 || settings.ticks < 0 || settings.rainclouds < 0 || endTick < 0 ||
            frames.size() != static_cast<std::size_t>(endTick) + 1 ||
            prints.size() != frames.size()) {
            report.message = "replay is incomplete: settings, end tick and frames disagree";
            return report;
        }
        std::multimap<std::int32_t, const nlohmann::json*> winds;
        for (const nlohmann::json& e : replay.at("events")) {
            if (e.at("type") == "wind") {
                winds.emplace(e.at("tick").get<std::int32_t>(), &e);
            }
        }
        Game game(settings);
        auto check = [&](std::int32_t t) {
            if (frameJson(game) != frames[t] || hex(game.fingerprint()) != prints[t]) {
                report.message = "tick " + std::to_string(t) + " differs from the record";
                return false;
            }
            return true;
        };
        if (!check(0)) {
            return report;
        }
        for (std::int32_t t = 0; t < endTick; ++t) {
            if (game.over()) {
                report.message = "the re-run game ended at tick " + std::to_string(t);
                return report;
            }
            auto [from, to] = winds.equal_range(t);
            for (auto it = from; it != to; ++it) {
                const nlohmann::json& w = *it->second;
                const WindVerdict v =
                    game.queueWind(w.at("player").get<std::int32_t>(), w.at("wx").get<float>(),
                                   w.at("wy").get<float>());
                if (v.accepted != w.at("accepted").get<bool>()) {
                    report.message =
                        "a wind at tick " + std::to_string(t) + " was judged otherwise";
                    return report;
                }
            }
            game.step();
            report.ticksChecked = t + 1;
            if (!check(t + 1)) {
                return report;
            }
        }
        report.ok = true;
        report.message = "all " + std::to_string(endTick) + " ticks match";
    } catch (const std::exception& e) {
        report.ok = false;
        report.message = std::string("unreadable replay: ") + e.what();
    }
    return report;
}

}  // namespace nimbus::arena
