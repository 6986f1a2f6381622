#include "arena/game/replay.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "arena/game/replay_format.hpp"
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

// The settings of a replay (either version), every number checked against arena/limits.hpp.
GameSettings settingsOf(const nlohmann::json& replay) {
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
    return settings;
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

VerifyReport verifyReplayV1(const nlohmann::json& replay) {
    VerifyReport report;
    try {
        const GameSettings settings = settingsOf(replay);
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

namespace {

// What a version-2 tick line says beyond its text: its tick and its winds.
struct TickLine {
    std::int64_t tick = -1;
    bool end = false;
    nlohmann::json json;
};

TickLine readLine(const std::string& text, std::int64_t number) {
    TickLine line;
    line.json = nlohmann::json::parse(text, nullptr, false);
    if (line.json.is_discarded() || !line.json.is_object()) {
        throw NotAReplay{"line " + std::to_string(number) + " is not a JSON object"};
    }
    line.end = line.json.contains("end_tick");
    if (!line.end) {
        line.tick = integerIn(field(line.json, "t"), "a line's tick", 0, kMaxReplayTicks);
    }
    return line;
}

// Queues the line's winds on the game; false when the game refuses one.
bool queueWinds(Game& game, const nlohmann::json& line) {
    if (!line.contains("w")) {
        return true;
    }
    const nlohmann::json& winds = line["w"];
    if (!winds.is_array()) {
        throw NotAReplay{"\"w\" is not a list"};
    }
    const std::int32_t players = game.settings().players;
    for (const nlohmann::json& w : winds) {
        if (!w.is_array() || w.size() != 3) {
            throw NotAReplay{"a wind is not [player, wx, wy]"};
        }
        const auto player =
            static_cast<std::int32_t>(integerIn(w[0], "a wind's player", 0, players - 1));
        if (!game.queueWind(player, finiteFloat(w[1], "a wind's wx"),
                            finiteFloat(w[2], "a wind's wy"))
                 .accepted) {
            return false;
        }
    }
    return true;
}

// Re-runs a version-2 replay line by line against its header: every tick's line must be the
// text the re-run game gives, byte for byte.
VerifyReport verifyLines(ReplaySource& source, const nlohmann::json& header) {
    VerifyReport report;
    const GameSettings settings = settingsOf(header);
    const nlohmann::json& players = field(header, "players");
    if (!players.is_array() || players.size() != static_cast<std::size_t>(settings.players)) {
        throw NotAReplay{"the players do not match the settings"};
    }
    Game game(settings);
    ReplayEncoder encoder(game);
    std::string text;
    std::string expected;
    std::int64_t number = 1;
    bool first = true;
    while (true) {
        const ReplaySource::Next next = source.nextLine(text, kMaxReplayLineBytes);
        ++number;
        if (next == ReplaySource::Next::TooLong) {
            throw NotAReplay{"line " + std::to_string(number) + " is too long"};
        }
        if (next != ReplaySource::Next::Line) {
            // No end line: the arena did not finish the file (it was killed). What is there counts.
            report.ok = true;
            report.partial = true;
            report.message = first ? "no tick was recorded"
                                   : "ticks 0 to " + std::to_string(game.tick()) +
                                         " match; the record ends there, without its end";
            if (!source.problem().empty()) {
                report.message += " (" + source.problem() + ")";
            }
            return report;
        }
        const TickLine line = readLine(text, number);
        if (line.end) {
            if (first) {
                throw NotAReplay{"the end comes before tick 0"};
            }
            const std::int64_t endTick =
                integerIn(field(line.json, "end_tick"), "end_tick", 0, settings.ticks);
            const nlohmann::json& print = field(line.json, "f");
            if (!field(line.json, "end_reason").is_string() || !print.is_string() ||
                !field(line.json, "refused").is_array()) {
                throw NotAReplay{"the end line is malformed"};
            }
            if (endTick != game.tick() || print != fingerprintText(game.fingerprint())) {
                report.message = "the end (tick " + std::to_string(endTick) +
                                 ") differs from the re-run game's";
                return report;
            }
            if (source.nextLine(text, kMaxReplayLineBytes) == ReplaySource::Next::Line) {
                throw NotAReplay{"a line after the end"};
            }
            report.ok = true;
            report.message = "all " + std::to_string(game.tick()) + " ticks match";
            return report;
        }
        const std::int64_t want = first ? 0 : game.tick() + 1;
        if (line.tick != want) {
            throw NotAReplay{"line " + std::to_string(number) + " is tick " +
                             std::to_string(line.tick) + ", not " + std::to_string(want)};
        }
        if (!first) {
            if (game.over()) {
                report.message = "the re-run game ended at tick " + std::to_string(game.tick());
                return report;
            }
            if (!queueWinds(game, line.json)) {
                report.message = "a wind at tick " + std::to_string(game.tick()) + " was refused";
                return report;
            }
            game.step();
        }
        first = false;
        expected.clear();
        encoder.appendTick(game, expected);
        game.forgetLogs();
        report.ticksChecked = game.tick();
        if (expected.size() != text.size() + 1 || expected.compare(0, text.size(), text) != 0) {
            report.message = "tick " + std::to_string(game.tick()) + " differs from the record";
            return report;
        }
    }
}

VerifyReport notReplay(const std::string& why) {
    VerifyReport report;
    report.notReplay = true;
    report.message = why;
    return report;
}

}  // namespace

VerifyReport verifyReplay(ReplaySource& source) {
    std::string first;
    const ReplaySource::Next next = source.nextLine(first, kMaxReplayLineBytes);
    nlohmann::json header;
    if (next == ReplaySource::Next::Line) {
        header = nlohmann::json::parse(first, nullptr, false);
    }
    try {
        if (header.is_object() && header.contains("version") && header["version"] == 2) {
            if (field(header, "format") != kReplayFormat) {
                throw NotAReplay{"its format is not \"" + std::string(kReplayFormat) + "\""};
            }
            return verifyLines(source, header);
        }
    } catch (const NotAReplay& e) {
        return notReplay(e.reason);
    } catch (const std::exception& e) {
        return notReplay(e.what());
    }
    // Not a version-2 header: a version-1 replay is one JSON text, read whole.
    std::string text;
    if (next == ReplaySource::Next::Line) {
        text = std::move(first) + "\n";
    }
    std::string rest;
    if (!source.rest(rest, kMaxReplayV1Bytes)) {
        return notReplay(!source.problem().empty() ? source.problem()
                                                   : "too big for a version-1 replay");
    }
    text += rest;
    const nlohmann::json whole = nlohmann::json::parse(text, nullptr, false);
    if (whole.is_discarded()) {
        return notReplay("it is neither JSON nor JSON lines");
    }
    if (!whole.is_object() || !whole.contains("version") || whole["version"] != 1 ||
        !whole.contains("format") || whole["format"] != kReplayFormat) {
        return notReplay("no \"format\": \"" + std::string(kReplayFormat) +
                         "\" of version 1 or 2");
    }
    return verifyReplayV1(whole);
}

}  // namespace nimbus::arena
