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

// A list of pairs or triples of a tick line, ,"key":[[...],[...]]: each item opens with "[", the
// first one with the key as well; a list without items is left out.
class ItemList {
  public:
    ItemList(std::string& out, const char* key) : out_(out), key_(key) {}
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;

    // Opens the next item for the caller to write, "]" included.
    std::string& item() {
        out_ += open_ ? ",[" : ",\"" + std::string(key_) + "\":[[";
        open_ = true;
        return out_;
    }
    void close() { out_ += open_ ? "]" : ""; }

  private:
    std::string& out_;
    const char* key_;
    bool open_ = false;
};

void appendNumber(std::string& out, std::int32_t v) {
    appendInt(out, v);
}
void appendNumber(std::string& out, float v) {
    appendFloat(out, v);
}

// An item of integers and floats: [first,rest...].
template <typename... Rest>
void appendItem(ItemList& list, std::int32_t first, Rest... rest) {
    std::string& out = list.item();
    appendInt(out, first);
    ((out += ',', appendNumber(out, rest)), ...);
    out += ']';
}

// ,"p":[id,x,y,...] of the clouds whose position is not the one last written (x and y by id).
void appendPositions(const Game& game, std::vector<std::uint32_t>& x, std::vector<std::uint32_t>& y,
                     std::string& out) {
    out += ",\"p\":[";
    bool first = true;
    for (const Cloud& c : game.clouds()) {
        const std::uint32_t cx = bitsOf(c.state.x);
        const std::uint32_t cy = bitsOf(c.state.y);
        if (cx == x[c.id] && cy == y[c.id]) {
            continue;
        }
        x[c.id] = cx;
        y[c.id] = cy;
        out += first ? "" : ",";
        first = false;
        appendInt(out, c.id);
        out += ',';
        appendFloat(out, c.state.x);
        out += ',';
        appendFloat(out, c.state.y);
    }
    out += ']';
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
    appendPositions(game, x_, y_, out);
    ItemList masses(out, "m");
    for (const Cloud& c : game.clouds()) {
        const std::uint32_t m = bitsOf(c.state.mass);
        if (m != mass_[c.id]) {
            mass_[c.id] = m;
            appendItem(masses, c.id, c.state.mass);
        }
    }
    masses.close();
    ItemList winds(out, "w");
    for (const WindEvent& w : game.windLog()) {
        appendItem(winds, w.player, w.wx, w.wy);
    }
    winds.close();
    ItemList swallows(out, "s");
    for (const SwallowEvent& e : game.swallowLog()) {
        appendItem(swallows, e.by, e.victim);
    }
    swallows.close();
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
