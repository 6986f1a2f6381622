#include "tournament/records/config.hpp"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "util/sandbox_settings.hpp"

namespace nimbus::tournament {

namespace {

template <typename T>
nlohmann::json optionalJson(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

template <typename T>
std::optional<T> optionalFrom(const nlohmann::json& json, const char* key) {
    if (!json.contains(key) || json[key].is_null()) {
        return std::nullopt;
    }
    return json[key].get<T>();
}

template <typename T>
std::string text(const std::optional<T>& value) {
    if (!value) {
        return "the arena's default";
    }
    return nlohmann::json(*value).dump();
}

}  // namespace

nlohmann::json toJson(const TournamentConfig& config) {
    nlohmann::json json{
        {"roster", config.roster},
        {"players", config.players},
        {"games", config.games},
        {"seed_base", config.seedBase},
        {"arena",
         {{"ticks", optionalJson(config.arena.ticks)},
          {"tick_ms", optionalJson(config.arena.tickMs)},
          {"rainclouds", optionalJson(config.arena.rainclouds)},
          {"lobby_seconds", optionalJson(config.arena.lobbySeconds)}}},
        {"arena_build", {{"path", config.arenaPath}, {"digest", config.arenaDigest}}},
    };
    if (config.sandbox) {  // only then: the files of other tournaments stay as they were
        json["sandbox"] = util::sandboxJson(config.sandbox);
    }
    return json;
}

TournamentConfig configFromJson(const nlohmann::json& json) {
    try {
        TournamentConfig config;
        config.roster = json.at("roster").get<std::vector<std::string>>();
        config.players = json.at("players").get<std::int32_t>();
        config.games = json.at("games").get<std::int32_t>();
        config.seedBase = json.at("seed_base").get<std::uint64_t>();
        const nlohmann::json& arena = json.at("arena");
        config.arena.ticks = optionalFrom<std::int32_t>(arena, "ticks");
        config.arena.tickMs = optionalFrom<std::int32_t>(arena, "tick_ms");
        config.arena.rainclouds = optionalFrom<std::int32_t>(arena, "rainclouds");
        config.arena.lobbySeconds = optionalFrom<double>(arena, "lobby_seconds");
        config.sandbox = util::sandboxFromJson(json.value("sandbox", nlohmann::json()));
        if (!json.contains("arena_build")) {
            throw std::runtime_error("no arena_build: made by an older nimbus-tournament");
        }
        config.arenaPath = json["arena_build"].at("path").get<std::string>();
        config.arenaDigest = json["arena_build"].at("digest").get<std::string>();
        if (config.roster.empty() || config.players < 1 || config.games < 1) {
            throw std::runtime_error("empty roster, no seats or no games");
        }
        return config;
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(e.what());
    }
}

std::string configDifference(const TournamentConfig& stored, const TournamentConfig& wanted) {
    std::string out;
    const auto note = [&out](const std::string& what, const std::string& was,
                             const std::string& now) {
        if (was != now) {
            out += (out.empty() ? "" : "; ") + what + " " + was + ", now " + now;
        }
    };
    note("roster", nlohmann::json(stored.roster).dump(), nlohmann::json(wanted.roster).dump());
    note("players", std::to_string(stored.players), std::to_string(wanted.players));
    note("seed", std::to_string(stored.seedBase), std::to_string(wanted.seedBase));
    note("ticks", text(stored.arena.ticks), text(wanted.arena.ticks));
    note("tick-ms", text(stored.arena.tickMs), text(wanted.arena.tickMs));
    note("rainclouds", text(stored.arena.rainclouds), text(wanted.arena.rainclouds));
    note("lobby-seconds", text(stored.arena.lobbySeconds), text(wanted.arena.lobbySeconds));
    const auto sandbox = [](const TournamentConfig& c) {
        return c.sandbox ? util::sandboxJson(c.sandbox).dump() : std::string("none");
    };
    note("sandbox", sandbox(stored), sandbox(wanted));
    note("arena build", stored.arenaDigest + " (" + stored.arenaPath + ")",
         wanted.arenaDigest == stored.arenaDigest
             ? stored.arenaDigest + " (" + stored.arenaPath + ")"
             : wanted.arenaDigest + " (" + wanted.arenaPath + ")");
    return out;
}

namespace {

struct Fnv1a {
    std::uint64_t hash = 14695981039346656037ULL;
    void add(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ULL;
        }
    }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        return text;
    }
};

}  // namespace

std::string tournamentId(const TournamentConfig& config) {
    nlohmann::json identity = toJson(config);
    identity.erase("games");
    identity["arena_build"].erase("path");
    const std::string text = identity.dump();
    Fnv1a fnv;
    fnv.add(text.data(), text.size());
    return fnv.hex();
}

std::string fileDigest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    Fnv1a fnv;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        fnv.add(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return fnv.hex();
}

}  // namespace nimbus::tournament
