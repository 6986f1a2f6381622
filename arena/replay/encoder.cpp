#include "arena/replay/encoder.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <nlohmann/json.hpp>

namespace nimbus::arena {

namespace {

// No float has these bits written: a NaN that the game never holds.
constexpr std::uint32_t kUnwritten = 0x7FC0DEADu;

std::uint32_t bitsOf(float v) {
    std::uint32_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

void appendInt(std::string& out, std::int64_t v) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    out.append(text, end);
}

}  // namespace

void appendFloat(std::string& out, float v) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    out.append(text, end);
}

std::string fingerprintText(std::uint64_t fingerprint) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(fingerprint));
    return text;
}

ReplayEncoder::ReplayEncoder(const Game& game) {
    std::size_t ids = 0;
    for (const Cloud& c : game.clouds()) {
        ids = std::max(ids, static_cast<std::size_t>(c.id) + 1);
    }
    x_.assign(ids, kUnwritten);
    y_.assign(ids, kUnwritten);
    mass_.assign(ids, kUnwritten);
}

std::string ReplayEncoder::header(const Game& game, const std::vector<PlayerInfo>& players,
                                  std::int32_t tickMs) {
    return header(game.settings(), players, tickMs);
}

std::string ReplayEncoder::header(const GameSettings& s, const std::vector<PlayerInfo>& players,
                                  std::int32_t tickMs) {
    // Ordered by hand: "format" and "version" first, so that a reader knows the file at once.
    nlohmann::ordered_json out;
    out["format"] = kReplayFormat;
    out["version"] = kReplayVersion;
    out["settings"] = {{"seed", s.seed},       {"ticks", s.ticks},  {"rainclouds", s.rainclouds},
                       {"players", s.players}, {"tick_ms", tickMs}, {"arena", {1280, 720}}};
    nlohmann::ordered_json ps = nlohmann::ordered_json::array();
    for (std::int32_t i = 0; i < s.players; ++i) {
        const PlayerInfo* p = static_cast<std::size_t>(i) < players.size() ? &players[i] : nullptr;
        ps.push_back({{"index", i},
                      {"name", p != nullptr ? p->name : std::string()},
                      {"kind", p != nullptr ? p->kind : std::string()}});
    }
    out["players"] = std::move(ps);
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void ReplayEncoder::appendTick(const Game& game, std::string& out) {
    out += "{\"t\":";
    appendInt(out, game.tick());
    out += ",\"p\":[";
    bool first = true;
    for (const Cloud& c : game.clouds()) {
        const std::uint32_t x = bitsOf(c.state.x);
        const std::uint32_t y = bitsOf(c.state.y);
        if (x == x_[c.id] && y == y_[c.id]) {
            continue;
        }
        x_[c.id] = x;
        y_[c.id] = y;
        out += first ? "" : ",";
        first = false;
        appendInt(out, c.id);
        out += ',';
        appendFloat(out, c.state.x);
        out += ',';
        appendFloat(out, c.state.y);
    }
    out += ']';
    // The lists of pairs and triples: each item opens with "[", the list with its key.
    std::string_view key;
    auto item = [&out, &key](std::string_view name) {
        out += key == name ? ",[" : ",\"" + std::string(name) + "\":[[";
        key = name;
    };
    auto close = [&out, &key](std::string_view name) { out += key == name ? "]" : ""; };
    for (const Cloud& c : game.clouds()) {
        const std::uint32_t m = bitsOf(c.state.mass);
        if (m != mass_[c.id]) {
            mass_[c.id] = m;
            item("m");
            appendInt(out, c.id);
            out += ',';
            appendFloat(out, c.state.mass);
            out += ']';
        }
    }
    close("m");
    for (const WindEvent& w : game.windLog()) {
        item("w");
        appendInt(out, w.player);
        out += ',';
        appendFloat(out, w.wx);
        out += ',';
        appendFloat(out, w.wy);
        out += ']';
    }
    close("w");
    for (const SwallowEvent& e : game.swallowLog()) {
        item("s");
        appendInt(out, e.by);
        out += ',';
        appendInt(out, e.victim);
        out += ']';
    }
    close("s");
    if (game.tick() % kFingerprintEvery == 0) {
        out += ",\"f\":\"" + fingerprintText(game.fingerprint()) + "\"";
    }
    out += "}\n";
}

std::string ReplayEncoder::endLine(const Game& game, const std::string& endReason) {
    std::vector<std::int64_t> refused;
    for (std::int32_t p = 0; p < game.settings().players; ++p) {
        refused.push_back(game.record(p).rejectedWinds);
    }
    return endLine(game, endReason, refused);
}

std::string ReplayEncoder::endLine(const Game& game, const std::string& endReason,
                                   const std::vector<std::int64_t>& refused) {
    std::string out = "{\"end_tick\":";
    appendInt(out, game.tick());
    out += ",\"end_reason\":" + nlohmann::json(endReason).dump() + ",\"refused\":[";
    for (std::size_t p = 0; p < refused.size(); ++p) {
        out += p == 0 ? "" : ",";
        appendInt(out, refused[p]);
    }
    out += "],\"f\":\"" + fingerprintText(game.fingerprint()) + "\"}\n";
    return out;
}

}  // namespace nimbus::arena
