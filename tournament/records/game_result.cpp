#include "tournament/records/game_result.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>

#include "arena/game/builtin_player.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/records/whole_file.hpp"

namespace nimbus::tournament {

namespace {

constexpr std::size_t kMaxPlayers = 64;
constexpr double kMaxMass = 1e9;

struct Invalid : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Foreign : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string inQuotes(const std::string& text) {
    return "\"" + printable(text) + "\"";
}

const nlohmann::json& field(const nlohmann::json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) {
        throw Invalid(std::string("no \"") + key + "\"");
    }
    return object[key];
}

std::string text(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = field(object, key);
    if (!value.is_string()) {
        throw Invalid(std::string("\"") + key + "\" is not text");
    }
    return value.get<std::string>();
}

std::int64_t integer(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = field(object, key);
    if (!value.is_number_integer()) {
        throw Invalid(std::string("\"") + key + "\" is not a whole number");
    }
    return value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX
               ? INT64_MAX
               : value.get<std::int64_t>();
}

double number(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = field(object, key);
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
        throw Invalid(std::string("\"") + key + "\" is not a finite number");
    }
    return value.get<double>();
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
        throw Invalid("unknown builtin player " + inQuotes(name));
    }
    return spec;
}

// k for the log of the k-th bot the arena started (...-bot<k>.log, k < 100), 0 for any other.
long logNumber(const std::string& log) {
    const std::size_t at = log.rfind("-bot");
    const std::string_view k = at != std::string::npos && log.ends_with(".log")
                                   ? std::string_view(log).substr(at + 4, log.size() - at - 8)
                                   : std::string_view();
    return allDigits(k) && k.size() < 3 ? std::stol(std::string(k)) : 0;
}

std::string botEntrant(const nlohmann::json& player, const ExpectedGame& expected) {
    if (player.contains("command") && player["command"].is_string()) {
        const std::string command = player["command"].get<std::string>();
        if (const std::string why = entrantProblem(command); !why.empty()) {
            throw Invalid("a player's command: " + why);
        }
        return command;
    }
    const long k = logNumber(player.value("log", nlohmann::json()).is_string()
                                 ? player["log"].get<std::string>()
                                 : std::string());
    if (expected.seats && k > 0) {
        long left = k;
        for (const std::string& seat : *expected.seats) {
            if (!arena::looksBuiltin(seat) && --left == 0) {
                return seat;
            }
        }
    }
    throw Invalid("a bot has no command and no seat");
}

SeatResult seatOf(const nlohmann::json& p, const ExpectedGame& expected, bool played) {
    SeatResult seat;
    const std::string kind = text(p, "kind");
    if (kind == "builtin") {
        seat.entrant = builtinEntrant(text(p, "name"));
    } else if (kind == "bot") {
        seat.entrant = botEntrant(p, expected);
    } else {
        throw Foreign("a player is a " + inQuotes(kind) + ", not one of a tournament's entrants");
    }
    if (played) {
        const std::int64_t rank = integer(p, "rank");
        if (rank < 1 || rank > static_cast<std::int64_t>(kMaxPlayers)) {
            throw Invalid("a place of " + std::to_string(rank));
        }
        seat.rank = static_cast<std::int32_t>(rank);
    }
    seat.finalMass = number(p, "final_mass");
    if (seat.finalMass < 0.0 || seat.finalMass > kMaxMass) {
        throw Invalid("a final mass of " + nlohmann::json(seat.finalMass).dump());
    }
    seat.status = text(p, "status");
    static constexpr std::string_view kStatuses[] = {"playing", "out", "disconnected", "absent"};
    if (std::find(std::begin(kStatuses), std::end(kStatuses), seat.status) == std::end(kStatuses)) {
        throw Invalid("a status of " + inQuotes(seat.status));
    }
    if (p.contains("log") && p["log"].is_string()) {
        seat.log = p["log"].get<std::string>();
    }
    if (p.contains("name") && p["name"].is_string()) {
        seat.name = p["name"].get<std::string>();
    }
    return seat;
}

void checkSetting(const nlohmann::json& value, const std::optional<std::int32_t>& expected,
                  const char* what) {
    if (expected && !(value.is_number_integer() && value.get<std::int64_t>() == *expected)) {
        throw Foreign("played with " + std::string(what) + " " + printable(value.dump()) +
                      ", not " + std::to_string(*expected));
    }
}

std::optional<std::int64_t> wholeNumber(const nlohmann::json& value) {
    return value.is_number_integer() &&
                   !(value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX)
               ? std::optional<std::int64_t>(value.get<std::int64_t>())
               : std::nullopt;
}

std::string seatText(std::size_t seat, const std::string& entrant) {
    return "seat " + std::to_string(seat + 1) + " is " + inQuotes(entrant);
}

// Every player sits in its seat of `seats` as the arena numbers its players: player p in the
// p-th seat once the seats of the absent bots are left out, the started bots' logs numbered in
// seat order. Returns what differs first, or nothing.
std::string seatsInOrderProblem(const std::vector<SeatResult>& players,
                                const std::vector<std::string>& seats) {
    std::vector<const SeatResult*> present;
    std::multiset<std::string> absent;
    for (const SeatResult& p : players) {
        if (p.status == "absent") {
            absent.insert(p.entrant);
        } else {
            present.push_back(&p);
        }
    }
    std::sort(present.begin(), present.end(),
              [](const SeatResult* a, const SeatResult* b) { return a->player < b->player; });
    std::size_t next = 0;
    long lastLog = 0;
    for (std::size_t s = 0; s < seats.size(); ++s) {
        const SeatResult* p = next < present.size() ? present[next] : nullptr;
        if (p && p->entrant == seats[s] && p->player == static_cast<std::int32_t>(next)) {
            const long k = arena::looksBuiltin(p->entrant) ? 0 : logNumber(p->log);
            if (k > 0 && k <= lastLog) {
                return seatText(s, seats[s]) + ", its bot logs to bot" + std::to_string(k) +
                       ".log, not after bot" + std::to_string(lastLog) + ".log";
            }
            lastLog = std::max(lastLog, k);
            ++next;
        } else if (const auto left = absent.find(seats[s]); left != absent.end()) {
            absent.erase(left);
        } else if (p) {
            return seatText(s, seats[s]) + ", its player " + std::to_string(p->player) + " is " +
                   inQuotes(p->entrant);
        } else {
            return seatText(s, seats[s]) + ", which none of its players takes";
        }
    }
    return next == present.size() && absent.empty() ? std::string()
                                                    : "its players do not sit in the game's seats";
}

// The same for the arena before it numbered its players by seat: builtin i in the i-th builtin
// seat, the k-th started bot in the k-th bot seat once the bots that were never started (no log)
// are left out. Throws Foreign naming the first seat that differs.
void checkBuiltinsFirst(const std::vector<SeatResult>& players,
                        const std::vector<std::string>& seats) {
    std::vector<std::size_t> builtinSeats;
    std::vector<std::size_t> botSeats;
    for (std::size_t s = 0; s < seats.size(); ++s) {
        (arena::looksBuiltin(seats[s]) ? builtinSeats : botSeats).push_back(s);
    }
    std::map<long, std::string> started;  // by log number
    std::multiset<std::string> unstarted;
    for (const SeatResult& p : players) {
        if (!arena::looksBuiltin(p.entrant)) {
            const long k = logNumber(p.log);
            if (k == 0) {
                unstarted.insert(p.entrant);
            } else if (!started.emplace(k, p.entrant).second) {
                throw Foreign("two bots log to bot" + std::to_string(k) + ".log");
            }
            continue;
        }
        const auto i = static_cast<std::size_t>(p.player);
        if (i >= builtinSeats.size()) {
            throw Foreign("player " + std::to_string(p.player) + ", " + inQuotes(p.entrant) +
                          ", is in none of the game's " + std::to_string(builtinSeats.size()) +
                          " builtin seats");
        }
        const std::size_t s = builtinSeats[i];
        if (seats[s] != p.entrant) {
            throw Foreign(seatText(s, seats[s]) + ", its player " + std::to_string(p.player) +
                          " is " + inQuotes(p.entrant));
        }
    }
    long next = 1;
    for (const std::size_t s : botSeats) {
        const auto bot = started.find(next);
        if (bot != started.end() && bot->second == seats[s]) {
            ++next;
        } else if (const auto left = unstarted.find(seats[s]); left != unstarted.end()) {
            unstarted.erase(left);
        } else {
            throw Foreign(seatText(s, seats[s]) +
                          (bot == started.end() ? std::string(", which none of its players takes")
                                                : ", its bot (log bot" + std::to_string(next) +
                                                      ".log) is " + inQuotes(bot->second)));
        }
    }
    if (next != static_cast<long>(started.size()) + 1 || !unstarted.empty()) {
        throw Foreign("its bots do not sit in the game's bot seats");
    }
}

// The players (in the file's order, logs as written) sit in the seats of `seats`, numbered as
// the arena numbers them now or as it did before (results stored then). Throws Foreign naming
// the first seat that differs from the present numbering.
void checkSeats(const std::vector<SeatResult>& players, const std::vector<std::string>& seats) {
    const std::string problem = seatsInOrderProblem(players, seats);
    if (problem.empty()) {
        return;
    }
    try {
        checkBuiltinsFirst(players, seats);
    } catch (const Foreign&) {
        throw Foreign(problem);
    }
}

// Whether a game was played ("played", or for a file written before the arena said so in a
// field of its own, an end of no_players with no tick played), and how it ended.
void readPlayed(const nlohmann::json& results, GameOutcome& game) {
    if (results.contains("played") && !results["played"].is_boolean()) {
        throw Invalid("\"played\" is not true or false");
    }
    game.played = !results.contains("played") || results["played"].get<bool>();
    game.endReason = text(results, "end_reason");
    if (!results.contains("played") && game.endReason == "no_players" &&
        results.value("ticks_played", nlohmann::json()) == 0) {
        game.played = false;
    }
}

// The list of 1 to 64 players, as many as the settings say; the seed and the settings.
const nlohmann::json& readSettings(const nlohmann::json& results, GameOutcome& game) {
    const nlohmann::json& players = field(results, "players");
    if (!players.is_array() || players.empty() || players.size() > kMaxPlayers) {
        throw Invalid("\"players\" is not a list of 1 to 64 players");
    }
    const nlohmann::json& settings = field(results, "settings");
    if (settings.value("players", nlohmann::json()) != players.size()) {
        throw Invalid(std::to_string(players.size()) + " players listed, settings say " +
                      printable(settings.value("players", nlohmann::json()).dump()));
    }
    const nlohmann::json& seed = field(results, "seed");
    if (!seed.is_number_unsigned() &&
        !(seed.is_number_integer() && seed.get<std::int64_t>() >= 0)) {
        throw Invalid("\"seed\" is not a seed");
    }
    game.seed = results["seed"].get<std::uint64_t>();
    game.ticks = wholeNumber(results.value("ticks", nlohmann::json()));
    game.rainclouds = wholeNumber(settings.value("rainclouds", nlohmann::json()));
    game.tickMs = wholeNumber(settings.value("tick_ms", nlohmann::json()));
    game.sandboxed = !settings.value("sandbox", nlohmann::json()).is_null();
    return players;
}

// Every player's seat, in the file's order: each index and (in a played game) each place given
// once, and in a game not played every player absent.
void readSeats(const nlohmann::json& players, const ExpectedGame& expected, GameOutcome& game) {
    std::vector<bool> placeTaken(players.size() + 1, false);
    std::vector<bool> indexTaken(players.size(), false);
    for (const nlohmann::json& p : players) {
        SeatResult seat = seatOf(p, expected, game.played);
        const std::int64_t index = integer(p, "index");
        if (index < 0 || index >= static_cast<std::int64_t>(players.size()) ||
            indexTaken[static_cast<std::size_t>(index)]) {
            throw Invalid("player index " + std::to_string(index) + " of " +
                          std::to_string(players.size()) +
                          " players is given twice or is out of range");
        }
        indexTaken[static_cast<std::size_t>(index)] = true;
        seat.player = static_cast<std::int32_t>(index);
        if (game.played) {
            if (static_cast<std::size_t>(seat.rank) > players.size() || placeTaken[seat.rank]) {
                throw Invalid("place " + std::to_string(seat.rank) + " of " +
                              std::to_string(players.size()) +
                              " players is given twice or is "
                              "out of range");
            }
            placeTaken[seat.rank] = true;
        } else if (seat.status != "absent") {
            throw Invalid("no game was played, yet a player is " + inQuotes(seat.status));
        }
        game.seats.push_back(std::move(seat));
    }
}

// Whatever is known of the game must agree with its results: the seed, the seats (players as
// `inFileOrder` lists them) and the settings. Throws Foreign.
void checkExpected(const nlohmann::json& results, const GameOutcome& game,
                   const std::vector<SeatResult>& inFileOrder, const ExpectedGame& expected) {
    if (expected.seed && game.seed != *expected.seed) {
        throw Foreign("seed " + std::to_string(game.seed) + ", not " +
                      std::to_string(*expected.seed));
    }
    if (expected.seats) {
        std::vector<std::string> want = *expected.seats;
        std::vector<std::string> got;
        for (const SeatResult& s : game.seats) {
            got.push_back(s.entrant);
        }
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        if (want != got) {
            throw Foreign("its players are not the game's entrants");
        }
        checkSeats(inFileOrder, *expected.seats);
    }
    const nlohmann::json& settings = field(results, "settings");
    checkSetting(results.value("ticks", nlohmann::json()), expected.ticks, "--ticks");
    checkSetting(settings.value("tick_ms", nlohmann::json()), expected.tickMs, "--tick-ms");
    checkSetting(settings.value("rainclouds", nlohmann::json()), expected.rainclouds,
                 "--rainclouds");
    const nlohmann::json sandbox = settings.value("sandbox", nlohmann::json());
    if (expected.sandbox && sandbox != *expected.sandbox) {
        throw Foreign("played with the sandbox " + printable(sandbox.dump()) + ", not " +
                      printable(expected.sandbox->dump()));
    }
}

GameOutcome outcomeOf(const nlohmann::json& results, const ExpectedGame& expected) {
    GameOutcome game;
    if (!results.is_object()) {
        throw Invalid("not an object");
    }
    readPlayed(results, game);
    readSeats(readSettings(results, game), expected, game);
    const std::vector<SeatResult> inFileOrder = game.seats;
    if (results.contains("pacing") && results["pacing"].is_object()) {
        const nlohmann::json& p = results["pacing"];
        game.pacing = Pacing{number(p, "tick_lag_p50_ms"), number(p, "tick_lag_p99_ms"),
                             number(p, "tick_lag_max_ms"), integer(p, "largest_catch_up_ticks")};
    }
    std::stable_sort(game.seats.begin(), game.seats.end(),
                     [](const SeatResult& a, const SeatResult& b) { return a.rank < b.rank; });
    checkExpected(results, game, inFileOrder, expected);
    return game;
}

}  // namespace

LoadedGame checkGame(const nlohmann::json& results, const ExpectedGame& expected) {
    LoadedGame loaded;
    try {
        loaded.outcome = outcomeOf(results, expected);
        if (!loaded.outcome.played) {
            loaded.state = GameState::NotPlayed;
            loaded.problem = "no game was played: nobody was seated";
        } else if (loaded.outcome.endReason == "interrupted") {
            loaded.state = GameState::Unfinished;
            loaded.problem = "interrupted game";
        } else if (loaded.outcome.endReason == "ticks" || loaded.outcome.endReason == "one_left" ||
                   loaded.outcome.endReason == "no_players") {
            loaded.state = GameState::Finished;
        } else {
            throw Invalid("an end reason of " + inQuotes(loaded.outcome.endReason));
        }
    } catch (const Foreign& e) {
        loaded = {};
        loaded.state = GameState::Foreign;
        loaded.problem = std::string("not this game: ") + e.what();
    } catch (const Invalid& e) {
        loaded = {};
        loaded.state = GameState::Invalid;
        loaded.problem = std::string("not a possible game: ") + e.what();
    } catch (const nlohmann::json::exception& e) {
        loaded = {};
        loaded.state = GameState::Invalid;
        loaded.problem = std::string("not a possible game: ") + printable(e.what());
    }
    return loaded;
}

LoadedGame loadGame(const std::filesystem::path& path, const ExpectedGame& expected) {
    const FileText file = readWholeFile(path);
    LoadedGame loaded;
    if (!file.exists) {
        return loaded;
    }
    loaded.state = GameState::Broken;
    if (!file.problem.empty()) {
        loaded.problem = file.problem;
        return loaded;
    }
    const nlohmann::json results = nlohmann::json::parse(file.text, nullptr, false);
    if (results.is_discarded() || !results.is_object()) {
        loaded.problem = "not a whole results file";
        return loaded;
    }
    loaded = checkGame(results, expected);
    // The arena writes a bot's log beside the results; a log named anywhere else is not read (a
    // results file from others could name any file the user can read).
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
    for (SeatResult& seat : loaded.outcome.seats) {
        const std::filesystem::path log = std::filesystem::path(seat.log).filename();
        seat.log = log.extension() == ".log" ? (folder / log).string() : std::string();
    }
    return loaded;
}

}  // namespace nimbus::tournament
