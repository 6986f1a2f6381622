#include "arena/replay/verify.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include "arena/replay/verify_lines.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/limits.hpp"

namespace nimbus::arena {

const char* endReasonOf(const Game& game) {
    if (!game.over()) {
        return "interrupted";
    }
    return game.tick() >= game.settings().ticks ? "ticks" : "one_left";
}

VerifyReport notReplay(const std::string& why) {
    VerifyReport report;
    report.notReplay = true;
    report.message = why;
    return report;
}

VerifyReport mismatch(std::int32_t ticksChecked, const std::string& why) {
    VerifyReport report;
    report.ticksChecked = ticksChecked;
    report.message = why;
    return report;
}

namespace {

// Reads a line as the arena writes it (encoder.hpp): JSON without white space, its keys in
// their order. Each read takes what it expects and says whether it was there.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool take(std::string_view literal) {
        if (text_.substr(at_, literal.size()) != literal) {
            return false;
        }
        at_ += literal.size();
        return true;
    }
    bool atEnd() const { return at_ == text_.size(); }

    // A JSON number's text (no white space, no sign but '-', no leading zeros).
    std::string_view number() {
        const std::size_t from = at_;
        take("-");
        if (!take("0") && digits() == 0) {
            at_ = from;
            return {};
        }
        if (take(".") && digits() == 0) {
            at_ = from;
            return {};
        }
        if (take("e") || take("E")) {
            if (!take("+")) {
                take("-");
            }
            if (digits() == 0) {
                at_ = from;
                return {};
            }
        }
        return text_.substr(from, at_ - from);
    }

    // An integer from low to high, written as a JSON integer.
    bool integer(std::int64_t& v, std::int64_t low, std::int64_t high) {
        const std::string_view t = number();
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        return !t.empty() && ec == std::errc() && end == t.data() + t.size() && v >= low &&
               v <= high;
    }

    // A number read as the nearest 32-bit float, the sign of a zero kept; false when it is none
    // or beyond the floats.
    bool float32(float& v) {
        const std::string_view t = number();
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        return !t.empty() && ec == std::errc() && end == t.data() + t.size() && std::isfinite(v);
    }

    // A string without escapes.
    bool plainString(std::string_view& s) {
        if (!take("\"")) {
            return false;
        }
        const std::size_t close = text_.find_first_of("\"\\", at_);
        if (close == std::string_view::npos || text_[close] != '"') {
            return false;
        }
        s = text_.substr(at_, close - at_);
        at_ = close + 1;
        return true;
    }

    // `[item,item,...]` or `[]`, each item read by `item`; the opening bracket already taken.
    template <typename Item>
    bool listRest(Item item) {
        if (take("]")) {
            return true;
        }
        do {
            if (!item()) {
                return false;
            }
        } while (take(","));
        return take("]");
    }

  private:
    std::size_t digits() {
        const std::size_t from = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        return at_ - from;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

struct RecordedWind {
    std::int32_t player;
    float wx;
    float wy;
};

// What verification needs of a tick line: its tick and its winds. The rest is compared as text.
struct TickLine {
    std::int64_t tick = -1;
    std::vector<RecordedWind> winds;
};

// Reads a tick line of a game of `players`; false when it is not one as the arena writes them.
// A wind's player beyond the game is not a replay.
bool readTick(std::string_view text, std::int32_t players, TickLine& line) {
    LineReader in(text);
    line.winds.clear();
    if (!in.take("{\"t\":") || !in.integer(line.tick, 0, kMaxReplayTicks) || !in.take(",\"p\":[")) {
        return false;
    }
    auto skipNumber = [&in] { return !in.number().empty(); };
    auto pair = [&in, &skipNumber] {
        return in.take("[") && skipNumber() && in.take(",") && skipNumber() && in.take("]");
    };
    auto wind = [&in, &line, players] {
        std::int64_t player = 0;
        RecordedWind w{};
        if (!in.take("[") || !in.integer(player, 0, std::numeric_limits<std::int32_t>::max())) {
            return false;
        }
        if (player >= players) {
            throw NotAReplay{"a wind's player is not an integer from 0 to " +
                             std::to_string(players - 1)};
        }
        w.player = static_cast<std::int32_t>(player);
        if (!in.take(",") || !in.float32(w.wx) || !in.take(",") || !in.float32(w.wy) ||
            !in.take("]")) {
            return false;
        }
        line.winds.push_back(w);
        return true;
    };
    if (!in.listRest(skipNumber) || (in.take(",\"m\":[") && !in.listRest(pair)) ||
        (in.take(",\"w\":[") && !in.listRest(wind)) || (in.take(",\"s\":[") && !in.listRest(pair))) {
        return false;
    }
    std::string_view print;
    if (in.take(",\"f\":") && (!in.plainString(print) || print.size() != 16)) {
        return false;
    }
    return in.take("}") && in.atEnd();
}

// The end line's refused winds per player; false when the line is not an end line as the arena
// writes them. The rest of it is compared as text.
bool readEnd(std::string_view text, std::vector<std::int64_t>& refused) {
    LineReader in(text);
    std::int64_t tick = 0;
    std::string_view reason;
    refused.clear();
    auto count = [&in, &refused] {
        std::int64_t n = 0;
        if (!in.integer(n, 0, std::numeric_limits<std::int64_t>::max()) ||
            refused.size() >= static_cast<std::size_t>(kMaxReplayPlayers)) {
            return false;
        }
        refused.push_back(n);
        return true;
    };
    std::string_view print;
    return in.take("{\"end_tick\":") && in.integer(tick, 0, kMaxReplayTicks) &&
           in.take(",\"end_reason\":") && in.plainString(reason) && in.take(",\"refused\":[") &&
           in.listRest(count) && in.take(",\"f\":") && in.plainString(print) && in.take("}") &&
           in.atEnd();
}

bool isEndLine(std::string_view text) {
    return text.substr(0, 12) == "{\"end_tick\":";
}

bool mayBePartial(const ReplaySource& source) {
    const std::string suffix = ".partial";
    const std::string& name = source.name();
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string shortened(const std::string& text) {
    constexpr std::size_t kShown = 160;
    return text.size() <= kShown ? text : text.substr(0, kShown) + "...";
}

// The header must be the one the arena writes for its settings and players.
GameSettings checkHeader(const std::string& text, const nlohmann::json& header, bool& same) {
    const GameSettings settings = settingsOf(header);
    const auto tickMs = static_cast<std::int32_t>(integerIn(
        field(field(header, "settings"), "tick_ms"), "tick_ms", 0,
        std::numeric_limits<std::int32_t>::max()));
    const nlohmann::json& players = field(header, "players");
    if (!players.is_array() || players.size() != static_cast<std::size_t>(settings.players)) {
        throw NotAReplay{"the players do not match the settings"};
    }
    std::vector<PlayerInfo> infos;
    for (const nlohmann::json& p : players) {
        const nlohmann::json& name = field(p, "name");
        const nlohmann::json& kind = field(p, "kind");
        if (!name.is_string() || !kind.is_string()) {
            throw NotAReplay{"a player's name or kind is not a string"};
        }
        infos.push_back({name.get<std::string>(), kind.get<std::string>(), "", "", -1, 0});
    }
    same = ReplayEncoder::header(settings, infos, tickMs) == text + "\n";
    return settings;
}

// How the record ends when it has no end line: partial for a .partial file, else a failure.
VerifyReport withoutEnd(const ReplaySource& source, const Game& game, bool anyTick,
                        ReplaySource::Next how) {
    const std::string ticks = anyTick ? "ticks 0 to " + std::to_string(game.tick()) + " match"
                                      : "no tick was recorded";
    const std::string why = source.problem().empty() ? "" : " (" + source.problem() + ")";
    if (how == ReplaySource::Next::Damaged) {
        return mismatch(game.tick(), ticks + ", then the file is damaged: " + source.problem());
    }
    if (!mayBePartial(source)) {
        return mismatch(game.tick(), ticks + "; the record ends there, without its end" + why +
                                         ": only a .partial file may stop early");
    }
    VerifyReport report;
    report.ok = true;
    report.partial = true;
    report.ticksChecked = game.tick();
    report.message = ticks + "; the record ends there, without its end" + why;
    return report;
}

// The end line against the one the arena would write for the re-run game, whole; then nothing
// may follow it.
VerifyReport checkEnd(ReplaySource& source, const Game& game, const std::string& text) {
    std::vector<std::int64_t> refused;
    if (!readEnd(text, refused)) {
        throw NotAReplay{"the end line is malformed"};
    }
    const auto players = static_cast<std::size_t>(game.settings().players);
    if (refused.size() != players) {
        return mismatch(game.tick(), "the end line counts refused winds of " +
                                         std::to_string(refused.size()) + " players, not " +
                                         std::to_string(players));
    }
    const std::string expected = ReplayEncoder::endLine(game, endReasonOf(game), refused);
    if (expected.size() != text.size() + 1 || expected.compare(0, text.size(), text) != 0) {
        return mismatch(game.tick(), "the end line differs from the re-run game's: " +
                                         shortened(expected.substr(0, expected.size() - 1)));
    }
    std::string after;
    const ReplaySource::Next next = source.nextLine(after, kMaxReplayLineBytes);
    if (next == ReplaySource::Next::Line) {
        throw NotAReplay{"a line after the end"};
    }
    if (next != ReplaySource::Next::End) {
        const std::string why = next == ReplaySource::Next::Cut && source.problem().empty()
                                    ? "text after the end line"
                                    : source.problem();
        return mismatch(game.tick(), "all " + std::to_string(game.tick()) +
                                         " ticks match, but the file is damaged after them: " +
                                         why);
    }
    VerifyReport report;
    report.ok = true;
    report.ticksChecked = game.tick();
    report.message = "all " + std::to_string(game.tick()) + " ticks match";
    return report;
}

// Re-runs a version-2 replay line by line against its header: every line must be the text the
// re-run game gives, byte for byte, the end line too.
VerifyReport verifyLines(ReplaySource& source, const std::string& headerText,
                         const nlohmann::json& header) {
    bool sameHeader = false;
    const GameSettings settings = checkHeader(headerText, header, sameHeader);
    if (!sameHeader) {
        return mismatch(0, "the header is not the one the arena writes for its settings");
    }
    Game game(settings);
    ReplayEncoder encoder(game);
    std::string text;
    std::string expected;
    TickLine line;
    std::int64_t number = 1;
    bool first = true;
    while (true) {
        const ReplaySource::Next next = source.nextLine(text, kMaxReplayLineBytes);
        ++number;
        if (next == ReplaySource::Next::TooLong) {
            throw NotAReplay{"line " + std::to_string(number) + " is longer than " +
                             std::to_string(kMaxReplayLineBytes) + " bytes"};
        }
        if (next != ReplaySource::Next::Line) {
            return withoutEnd(source, game, !first, next);
        }
        if (isEndLine(text)) {
            if (first) {
                throw NotAReplay{"the end comes before tick 0"};
            }
            return checkEnd(source, game, text);
        }
        if (!readTick(text, settings.players, line)) {
            throw NotAReplay{"line " + std::to_string(number) +
                             " is not a tick line as the arena writes them"};
        }
        const std::int64_t want = first ? 0 : game.tick() + 1;
        if (line.tick != want) {
            throw NotAReplay{"line " + std::to_string(number) + " is tick " +
                             std::to_string(line.tick) + ", not " + std::to_string(want)};
        }
        if (!first) {
            if (game.over()) {
                return mismatch(game.tick(),
                                "the re-run game ended at tick " + std::to_string(game.tick()));
            }
            for (const RecordedWind& w : line.winds) {
                if (!game.queueWind(w.player, w.wx, w.wy).accepted) {
                    return mismatch(game.tick(), "a wind at tick " + std::to_string(game.tick()) +
                                                     " was refused");
                }
            }
            game.step();
        }
        first = false;
        expected.clear();
        encoder.appendTick(game, expected);
        game.forgetLogs();
        if (expected.size() != text.size() + 1 || expected.compare(0, text.size(), text) != 0) {
            return mismatch(game.tick(),
                            "tick " + std::to_string(game.tick()) + " differs from the record");
        }
    }
}

// Text that reads wrongly may be the work of damage that the gzip member's check finds only at
// the member's end: a failure is put down to damage when there is some. The arena's members hold
// about 256 KiB of text, so the look-ahead covers the rest of one whatever the line.
VerifyReport blameDamage(ReplaySource& source, VerifyReport report, bool ours) {
    constexpr std::size_t kLookAhead = 4 * kMaxReplayLineBytes;
    if (report.ok || (!source.problem().empty() &&
                      report.message.find(source.problem()) != std::string::npos)) {
        return report;
    }
    if (source.ending() != ReplaySource::Next::Damaged && !source.damagedAhead(kLookAhead)) {
        return report;
    }
    report.notReplay = !ours;
    report.message = "the file is damaged: " + source.problem() + "; before it, " + report.message;
    return report;
}

}  // namespace

VerifyReport verifyReplay(ReplaySource& source) {
    std::string first;
    const ReplaySource::Next next = source.nextLine(first, kMaxReplayLineBytes);
    bool ours = false;
    VerifyReport report;
    try {
        if (next == ReplaySource::Next::Line) {
            const nlohmann::json header = parseHeader(first);
            if (header.is_object() && header.contains("version") && header["version"] == 2) {
                if (field(header, "format") != kReplayFormat) {
                    throw NotAReplay{"its format is not \"" + std::string(kReplayFormat) + "\""};
                }
                ours = true;
                return blameDamage(source, verifyLines(source, first, header), ours);
            }
        }
    } catch (const NotAReplay& e) {
        return blameDamage(source, notReplay(e.reason), ours);
    } catch (const std::exception& e) {
        return blameDamage(source, notReplay(e.what()), ours);
    }
    // Not a version-2 header: a version-1 replay is one JSON text, read as a stream.
    report = verifyVersion1(source, next == ReplaySource::Next::Line ? first + "\n" : std::string(),
                            ours);
    return blameDamage(source, report, ours);
}

}  // namespace nimbus::arena
