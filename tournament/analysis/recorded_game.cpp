#include "tournament/analysis/recorded_game.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "arena/game/builtin_player.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/replay/fields.hpp"
#include "arena/replay/reader.hpp"
#include "arena/replay/reader_v1.hpp"
#include "arena/limits.hpp"
#include "tournament/records/entrant.hpp"

namespace nimbus::tournament {

namespace {

// A replay file read only when it is a regular file: its kind is looked at before it is opened,
// so that a FIFO or a device is never opened, and again once it is open (without blocking), in
// case another file took its place in between.
class RegularFileSource : public arena::ReplaySource {
  public:
    explicit RegularFileSource(const std::filesystem::path& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            problem_ = std::string("cannot read: ") + std::strerror(errno);
        } else if (!S_ISREG(info.st_mode)) {
            problem_ = "not a regular file";
        } else if ((fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
            problem_ = std::string("cannot read: ") + std::strerror(errno);
        } else if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            problem_ = "not a regular file";
        }
    }
    ~RegularFileSource() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RegularFileSource(const RegularFileSource&) = delete;
    RegularFileSource& operator=(const RegularFileSource&) = delete;

  protected:
    long readRaw(std::uint8_t* into, std::size_t n) override {
        if (!problem_.empty())
            return -1;
        for (;;) {
            const ssize_t got = ::read(fd_, into, n);
            if (got >= 0)
                return static_cast<long>(got);
            if (errno != EINTR) {
                problem_ = std::string("cannot read: ") + std::strerror(errno);
                return -1;
            }
        }
    }

  private:
    int fd_ = -1;
};

// A value from a file, as a report shows it: printable, and cut after 100 characters.
std::string shownValue(const nlohmann::json& value) {
    const std::string text = printable(value.dump());
    std::size_t cut = std::min<std::size_t>(text.size(), 100);
    while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;  // not inside a character
    return cut < text.size() ? text.substr(0, cut) + "..." : text;
}

// Why `header` (of either format) is not the header of the replay of `game`; empty when it is.
std::string headerMismatch(const nlohmann::json& header, const GameOutcome& game) {
    const nlohmann::json none;
    const nlohmann::json& settings = header.contains("settings") ? header["settings"] : none;
    std::vector<const SeatResult*> byIndex(game.seats.size(), nullptr);
    std::int64_t seated = 0;
    for (const SeatResult& seat : game.seats) {
        const auto index = static_cast<std::size_t>(seat.player);
        if (index >= byIndex.size() || byIndex[index] != nullptr)
            return "its results name player " + std::to_string(seat.player) +
                   " twice or beyond its players";
        byIndex[index] = &seat;
        seated += seat.status != "absent" ? 1 : 0;
    }
    const auto optional = [](const std::optional<std::int64_t>& v) {
        return v ? nlohmann::json(*v) : nlohmann::json();
    };
    const std::pair<const char*, nlohmann::json> wanted[] = {
        {"seed", game.seed},
        {"ticks", optional(game.ticks)},
        {"rainclouds", optional(game.rainclouds)},
        {"tick_ms", optional(game.tickMs)},
        {"players", seated}};
    for (const auto& [key, want] : wanted) {
        const nlohmann::json& got =
            settings.is_object() && settings.contains(key) ? settings[key] : none;
        if (got != want)
            return std::string(key) + " " + shownValue(got) + ", not " + want.dump();
    }
    const nlohmann::json& players = header.contains("players") ? header["players"] : none;
    for (std::size_t i = 0; i < static_cast<std::size_t>(seated); ++i) {
        const nlohmann::json& got = players.is_array() && i < players.size() ? players[i] : none;
        const SeatResult& seat = *byIndex[i];
        const nlohmann::json want = {
            {"index", i},
            {"kind", arena::looksBuiltin(seat.entrant) ? "builtin" : "bot"},
            {"name", seat.name}};
        bool same = got.is_object();
        for (const auto& field : want.items())
            same = same && got.value(field.key(), none) == field.value();
        if (!same)
            return "player " + std::to_string(i) + " is " + shownValue(got) + ", not " +
                   shownValue(want);
    }
    return "";
}

bool isFormat(const nlohmann::json& j, int version) {
    return j.is_object() && j.value("format", "") == arena::kReplayFormat &&
           j.value("version", 0) == version;
}

// Version 2: the header, then tick lines whose "w" are the winds their step applied (queued
// during the tick before), then the end line.
RecordedGame readLines(arena::ReplaySource& source, const nlohmann::json& header) {
    RecordedGame game;
    game.settings = arena::settingsOf(header);
    const std::size_t windsPerTick =
        static_cast<std::size_t>(game.settings.players) * arena::kWindsPerTick;
    std::int32_t next = 0;  // the tick the next tick line must be
    std::string text;
    for (;;) {
        const arena::ReplaySource::Next read = source.nextLine(text, arena::kMaxReplayLineBytes);
        if (read != arena::ReplaySource::Next::Line)
            return game;  // cut short: the ticks read so far
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        if (!line.is_object())
            throw std::runtime_error("a line is not a JSON object");
        if (line.contains("end_tick")) {
            if (line["end_tick"] != next - 1)
                throw std::runtime_error("the end tick is not the last tick");
            game.endTick = next - 1;
            return game;
        }
        const auto tick = line.at("t").get<std::int32_t>();
        const nlohmann::json winds = line.value("w", nlohmann::json::array());
        if (tick != next || tick > game.settings.ticks || winds.size() > windsPerTick)
            throw std::runtime_error("tick line " + std::to_string(next) +
                                     " is out of order, beyond the game or has too many winds");
        game.endTick = tick;
        ++next;
        for (const nlohmann::json& w : winds)
            game.winds.push_back({tick - 1, w.at(0).get<std::int32_t>(), w.at(1).get<float>(),
                                  w.at(2).get<float>()});
    }
}

void checkHeader(const nlohmann::json& header, const GameOutcome& game) {
    if (const std::string why = headerMismatch(header, game); !why.empty())
        throw std::runtime_error("not this game's replay: " + why);
}

// Version 1: one JSON text, read by the arena's version-1 reader; `start` is its text already
// taken from the source.
RecordedGame readWhole(arena::ReplaySource& source, std::string start, const GameOutcome& outcome) {
    arena::Version1Read read = arena::readVersion1(source, std::move(start), true);
    if (!read.problem.empty())
        throw std::runtime_error(
            (read.damaged ? "not a whole replay: " : "not a replay of version 1 or 2: ") +
            read.problem);
    arena::RecordV1& record = read.record;
    if (!isFormat(record.top, 1))
        throw std::runtime_error("not a replay of version 1 or 2");
    checkHeader(record.top, outcome);
    RecordedGame game;
    game.settings = arena::settingsOf(record.top);
    game.endTick = static_cast<std::int32_t>(
        arena::integerIn(arena::field(record.top, "end_tick"), "end_tick", 0, game.settings.ticks));
    arena::orderByTick(record.winds);
    game.winds.assign(record.winds.begin(), record.winds.end());
    return game;
}

}  // namespace

RecordedGame readRecordedGame(const std::filesystem::path& replay, const GameOutcome& game) {
    const std::string shown = printable(replay.string());
    RegularFileSource source(replay);
    if (!source.problem().empty())
        throw std::runtime_error("cannot read " + shown + ": " + source.problem());
    try {
        std::string first;
        const bool line =
            source.nextLine(first, arena::kMaxReplayLineBytes) == arena::ReplaySource::Next::Line;
        const nlohmann::json header = line ? arena::parseHeader(first) : nlohmann::json();
        if (isFormat(header, 2)) {
            checkHeader(header, game);
            return readLines(source, header);
        }
        return readWhole(source, line ? first + "\n" : std::string(), game);
    } catch (const arena::NotAReplay& e) {
        throw std::runtime_error(shown + " is not a replay: " + e.reason);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(shown + " is not a replay: " + e.what());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(shown + ": " + e.what());
    }
}

std::filesystem::path replayBeside(const std::filesystem::path& results) {
    const std::filesystem::path folder = results.parent_path();
    for (const char* name : {"replay.jsonl.gz", "replay.json"}) {
        if (std::filesystem::exists(folder / name))
            return folder / name;
    }
    return folder / "replay.jsonl.gz";
}

}  // namespace nimbus::tournament
