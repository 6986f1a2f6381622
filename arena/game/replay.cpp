#include "arena/game/replay.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "arena/limits.hpp"

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
        const std::int64_t refused =
            i < static_cast<std::size_t>(s.players)
                ? game.record(static_cast<std::int32_t>(i)).rejectedWinds
                : 0;
        ps.push_back({{"index", i},
                      {"name", players[i].name},
                      {"kind", players[i].kind},
                      {"refused", refused}});
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
                          {"wy", w.wy}});
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

namespace {

// A replay that cannot be trusted: thrown while reading, reported as "not a replay".
struct NotAReplay {
    std::string reason;
};

const nlohmann::json& field(const nlohmann::json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) {
        throw NotAReplay{std::string("no \"") + key + "\""};
    }
    return object[key];
}

std::int64_t integerIn(const nlohmann::json& value, const char* what, std::int64_t low,
                       std::int64_t high) {
    bool integer = false;
    std::int64_t v = 0;
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        integer = u <= static_cast<std::uint64_t>(high);
        v = integer ? static_cast<std::int64_t>(u) : 0;
    } else if (value.is_number_integer()) {
        integer = true;
        v = value.get<std::int64_t>();
    }
    if (!integer || v < low || v > high) {
        throw NotAReplay{std::string(what) + " is not an integer from " + std::to_string(low) +
                         " to " + std::to_string(high)};
    }
    return v;
}

float finiteFloat(const nlohmann::json& value, const char* what) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (!value.is_number() || !std::isfinite(value.get<double>()) ||
        std::fabs(value.get<double>()) > kMax) {
        throw NotAReplay{std::string(what) + " is not a finite 32-bit number"};
    }
    return value.get<float>();
}

// The frames and fingerprints: one per tick, each frame a list of clouds of six fields, each
// fingerprint 16 hex digits. Values are compared later; here only the shape is checked.
void checkRecord(const nlohmann::json& frames, const nlohmann::json& prints, std::int64_t endTick,
                 std::int64_t clouds) {
    if (!frames.is_array() || !prints.is_array() ||
        frames.size() != static_cast<std::size_t>(endTick) + 1 || prints.size() != frames.size()) {
        throw NotAReplay{"settings, end tick and frames disagree"};
    }
    for (const nlohmann::json& frame : frames) {
        if (!frame.is_array() || frame.size() > static_cast<std::size_t>(clouds)) {
            throw NotAReplay{"a frame is not a list of clouds"};
        }
        for (const nlohmann::json& cloud : frame) {
            if (!cloud.is_array() || cloud.size() != 6) {
                throw NotAReplay{"a cloud is not six fields"};
            }
        }
    }
    for (const nlohmann::json& p : prints) {
        if (!p.is_string() || p.get_ref<const std::string&>().size() != 16) {
            throw NotAReplay{"a fingerprint is not 16 hex digits"};
        }
    }
}

struct RecordedWind {
    std::int32_t player;
    float wx;
    float wy;
};

}  // namespace

VerifyReport verifyReplay(const nlohmann::json& replay) {
    VerifyReport report;
    try {
        const nlohmann::json& s = field(replay, "settings");
        GameSettings settings;
        const nlohmann::json& seed = field(s, "seed");
        if (!seed.is_number_unsigned()) {
            throw NotAReplay{"seed is not an unsigned integer"};
        }
        settings.seed = seed.get<std::uint64_t>();
        settings.ticks =
            static_cast<std::int32_t>(integerIn(field(s, "ticks"), "ticks", 0, kMaxReplayTicks));
        settings.rainclouds = static_cast<std::int32_t>(
            integerIn(field(s, "rainclouds"), "rainclouds", 0, kMaxReplayRainclouds));
        settings.players = static_cast<std::int32_t>(
            integerIn(field(s, "players"), "players", 1, kMaxReplayPlayers));
        const auto endTick = static_cast<std::int32_t>(
            integerIn(field(replay, "end_tick"), "end_tick", 0, settings.ticks));
        const nlohmann::json& frames = field(replay, "frames");
        const nlohmann::json& prints = field(replay, "fingerprints");
        checkRecord(frames, prints, endTick, settings.players + settings.rainclouds);
        const nlohmann::json& events = field(replay, "events");
        if (!events.is_array()) {
            throw NotAReplay{"events is not a list"};
        }
        std::multimap<std::int32_t, RecordedWind> winds;
        for (const nlohmann::json& e : events) {
            if (field(e, "type") != "wind") {
                continue;
            }
            const auto tick =
                static_cast<std::int32_t>(integerIn(field(e, "tick"), "a wind's tick", 0, endTick));
            const auto player = static_cast<std::int32_t>(
                integerIn(field(e, "player"), "a wind's player", 0, settings.players - 1));
            winds.emplace(tick, RecordedWind{player, finiteFloat(field(e, "wx"), "a wind's wx"),
                                             finiteFloat(field(e, "wy"), "a wind's wy")});
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
                const RecordedWind& w = it->second;
                if (!game.queueWind(w.player, w.wx, w.wy).accepted) {
                    report.message = "a wind at tick " + std::to_string(t) + " was refused";
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
    } catch (const NotAReplay& e) {
        report = {};
        report.notReplay = true;
        report.message = e.reason;
    } catch (const std::exception& e) {
        report = {};
        report.notReplay = true;
        report.message = e.what();
    }
    return report;
}

}  // namespace nimbus::arena
