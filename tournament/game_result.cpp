#include "tournament/game_result.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string_view>

#include "arena/game/builtin_player.hpp"

namespace nimbus::tournament {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
}

std::string builtinEntrant(const std::string& name) {
    // The arena names a second greedy player "greedy-2", a third "greedy-3".
    std::string base = name;
    const std::size_t dash = base.rfind('-');
    if (dash != std::string::npos && allDigits(std::string_view(base).substr(dash + 1))) {
        base.erase(dash);
    }
    const std::string spec = "builtin:" + base;
    if (!arena::parseBuiltin(spec)) {
        throw std::runtime_error("unknown builtin player \"" + name + "\"");
    }
    return spec;
}

std::string botEntrant(const nlohmann::json& player, const std::vector<std::string>& seats) {
    if (player.contains("command") && player["command"].is_string() &&
        !player["command"].get<std::string>().empty()) {
        return player["command"].get<std::string>();
    }
    // The arena logs its k-th started bot (1-based, builtins not counted) to ...-bot<k>.log.
    const std::string log = player.value("log", nlohmann::json()).is_string()
                                ? player["log"].get<std::string>()
                                : std::string();
    const std::size_t at = log.rfind("-bot");
    const std::string_view number =
        at != std::string::npos && log.ends_with(".log")
            ? std::string_view(log).substr(at + 4, log.size() - at - 8)
            : std::string_view();
    if (allDigits(number) && number.size() < 9) {
        long k = std::stol(std::string(number));
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
