// Version-1 replays (one JSON text, written whole by earlier arenas), read by reader_v1.hpp and
// checked here against the re-run game: settings, shapes and winds first, then every frame.
#include <algorithm>
#include <cmath>

#include "arena/limits.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/replay/reader_v1.hpp"
#include "arena/replay/verify_lines.hpp"

namespace nimbus::arena {

namespace {

bool sameCloud(const Cloud& c, const FrameCloud& f) {
    // The record rounds each value to hundredths: v rounds to (a double of) h / 100.
    auto same = [](float v, std::int32_t h) {
        return std::round(static_cast<double>(v) * 100.0) == static_cast<double>(h);
    };
    const auto idKind = static_cast<std::uint16_t>(
        c.id | (c.kind == CloudKind::Thunderstorm ? kFrameThunderstorm : 0));
    return c.id <= kMaxFrameCloudId && f.idKind == idKind && f.owner == c.owner &&
           same(c.state.x, f.x) && same(c.state.y, f.y) && same(c.state.mass, f.mass);
}

// The frames, fingerprints and winds fit the settings and end tick; throws NotAReplay otherwise.
void checkShapes(const RecordV1& r, const GameSettings& settings, std::int32_t endTick) {
    if (!r.framesList || !r.printsList ||
        r.frameSizes.size() != static_cast<std::size_t>(endTick) + 1 ||
        r.prints.size() != r.frameSizes.size()) {
        throw NotAReplay{"settings, end tick and frames disagree"};
    }
    const auto clouds = static_cast<std::size_t>(settings.players + settings.rainclouds);
    if (std::any_of(r.frameSizes.begin(), r.frameSizes.end(),
                    [clouds](std::size_t n) { return n > clouds; })) {
        throw NotAReplay{"a frame is not a list of clouds"};
    }
    if (!r.eventsList) {
        throw NotAReplay{"events is not a list"};
    }
    for (const WindEvent& w : r.winds) {
        if (w.tick > endTick) {
            throw NotAReplay{"a wind's tick is not an integer from 0 to " +
                             std::to_string(endTick)};
        }
        if (w.player >= settings.players) {
            throw NotAReplay{"a wind's player is not an integer from 0 to " +
                             std::to_string(settings.players - 1)};
        }
    }
}

// Every frame against the game re-run with the record's winds (in the order their steps apply
// them), then the end reason.
VerifyReport rerun(const RecordV1& r, const GameSettings& settings, std::int32_t endTick,
                   const nlohmann::json& reason) {
    Game game(settings);
    std::size_t cloud = 0;
    std::size_t wind = 0;
    for (std::int32_t t = 0;; ++t) {
        const std::size_t count = r.frameSizes[t];
        bool same = t < r.firstBadFrame && t < r.firstBadPrint && game.clouds().size() == count &&
                    game.fingerprint() == r.prints[t];
        for (std::size_t i = 0; same && i < count; ++i) {
            same = sameCloud(game.clouds()[i], r.clouds[cloud + i]);
        }
        if (!same) {
            return mismatch(t, "tick " + std::to_string(t) + " differs from the record");
        }
        cloud += count;
        if (t == endTick) {
            break;
        }
        if (game.over()) {
            return mismatch(t, "the re-run game ended at tick " + std::to_string(t));
        }
        for (; wind < r.winds.size() && r.winds[wind].tick == t; ++wind) {
            const WindEvent& w = r.winds[wind];
            if (!game.queueWind(w.player, w.wx, w.wy).accepted) {
                return mismatch(t, "a wind at tick " + std::to_string(t) + " was refused");
            }
        }
        game.step();
    }
    if (reason != endReasonOf(game)) {
        return mismatch(endTick, "the end reason " + reason.dump() +
                                     " is not the re-run game's \"" + endReasonOf(game) + "\"");
    }
    VerifyReport report;
    report.ok = true;
    report.ticksChecked = endTick;
    report.message = "all " + std::to_string(endTick) + " ticks match";
    return report;
}

// The record against the re-run game: settings, shapes and winds checked first, then every tick.
VerifyReport check(RecordV1& r) {
    const nlohmann::json& top = r.top;
    if (!top.contains("version") || top["version"] != 1 || !top.contains("format") ||
        top["format"] != kReplayFormat) {
        return notReplay("no \"format\": \"" + std::string(kReplayFormat) + "\" of version 1 or 2");
    }
    const GameSettings settings = settingsOf(top);
    const auto endTick =
        static_cast<std::int32_t>(integerIn(field(top, "end_tick"), "end_tick", 0, settings.ticks));
    checkShapes(r, settings, endTick);
    const nlohmann::json& reason = field(top, "end_reason");
    if (!reason.is_string()) {
        throw NotAReplay{"end_reason is not a string"};
    }
    orderByTick(r.winds);
    return rerun(r, settings, endTick, reason);
}

}  // namespace

VerifyReport verifyVersion1(ReplaySource& source, std::string start, bool& ours) {
    Version1Read read = readVersion1(source, std::move(start));
    ours = read.ours;
    if (!read.problem.empty()) {
        // A replay of ours that is damaged fails; anything else damaged is no replay.
        return read.damaged && read.ours ? mismatch(0, read.problem) : notReplay(read.problem);
    }
    try {
        return check(read.record);
    } catch (const NotAReplay& e) {
        return notReplay(e.reason);
    } catch (const std::exception& e) {
        return notReplay(e.what());
    }
}

}  // namespace nimbus::arena
