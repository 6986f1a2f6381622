#include "tournament/game_result.hpp"

#include <algorithm>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "arena/game/builtin_player.hpp"

namespace nimbus::tournament {

namespace {

std::string builtinEntrant(const std::string& name) {
    // The arena names a second greedy player "greedy-2", a third "greedy-3".
    static const std::regex suffix("-[0-9]+$");
    const std::string spec = "builtin:" + std::regex_replace(name, suffix, "");
    if (!arena::parseBuiltin(spec)) {
        throw std::runtime_error("unknown builtin player \"" + name + "\"");
    }
    return spec;
}

std::string botEntrant(const nlohmann::json& player, const std::vector<std::string>& seats) {
    if (player.contains("command") && player["command"].is_string()) {
        return player["command"].get<std::string>();
    }
    // The arena logs its k-th started bot (1-based, builtins not counted) to ...-bot<k>.log.
    static const std::regex logName("-bot([0-9]+)\\.log$");
    std::smatch match;
    const std::string log = player.value("log", nlohmann::json()).is_string()
                                ? player["log"].get<std::string>()
                                : std::string();
    if (std::regex_search(log, match, logName)) {
        long k = std::stol(match[1].str());
        for (const std::string& seat : seats) {
            if (!arena::looksBuiltin(seat) && --k == 0) {
                return seat;
            }
        }
    }
    throw std::runtime_error("bot \"" + player.value("name", std::string("?")) +
                             "\" has no command and no seat");
}

}  // namespace

GameOutcome outcomeOf(const nlohmann::json& results, const std::vector<std::string>& seats) {
    try {
        GameOutcome game;
        game.seed = results.value("seed", std::uint64_t{0});
        game.endReason = results.value("end_reason", std::string());
        for (const nlohmann::json& p : results.at("players")) {
            SeatResult seat;
            const std::string kind = p.at("kind").get<std::string>();
            if (kind == "builtin") {
                seat.entrant = builtinEntrant(p.at("name").get<std::string>());
            } else if (kind == "bot") {
                seat.entrant = botEntrant(p, seats);
            } else {
                throw std::runtime_error("player \"" + p.value("name", std::string("?")) +
                                         "\" is a " + kind + ", not one of the tournament's");
            }
            seat.rank = p.at("rank").get<std::int32_t>();
            seat.finalMass = p.at("final_mass").get<double>();
            if (p.contains("status") && p["status"].is_string()) {
                seat.status = p["status"].get<std::string>();
            } else {
                seat.status = p.value("out_at_tick", nlohmann::json()).is_null() ? "playing" : "out";
            }
            game.seats.push_back(seat);
        }
        std::stable_sort(game.seats.begin(), game.seats.end(),
                         [](const SeatResult& a, const SeatResult& b) { return a.rank < b.rank; });
        return game;
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(e.what());
    }
}

LoadedGame loadGame(const std::filesystem::path& path) {
    LoadedGame loaded;
    std::ifstream in(path);
    if (!in) {
        return loaded;
    }
    const nlohmann::json results = nlohmann::json::parse(in, nullptr, false);
    if (results.is_discarded() || !results.is_object() || !results.contains("players") ||
        !results["players"].is_array()) {
        loaded.state = GameState::Broken;
        loaded.problem = "not a whole results file";
        return loaded;
    }
    if (results.value("end_reason", std::string()) == "interrupted") {
        loaded.state = GameState::Unfinished;
        return loaded;
    }
    std::vector<std::string> seats;
    std::ifstream gameFile(path.parent_path() / "game.json");
    if (gameFile) {
        const nlohmann::json game = nlohmann::json::parse(gameFile, nullptr, false);
        if (!game.is_discarded() && game.contains("seats") && game["seats"].is_array()) {
            for (const nlohmann::json& s : game["seats"]) {
                seats.push_back(s.is_string() ? s.get<std::string>() : std::string());
            }
        }
    }
    try {
        loaded.outcome = outcomeOf(results, seats);
        loaded.state = GameState::Finished;
    } catch (const std::runtime_error& e) {
        loaded.state = GameState::Unknown;
        loaded.problem = e.what();
    }
    return loaded;
}

}  // namespace nimbus::tournament
