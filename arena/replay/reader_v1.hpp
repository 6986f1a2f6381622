#pragma once
// Version-1 replays (one JSON text, written whole by earlier arenas), read in one place for the
// verifier and the tournament's analysis. The text is read as a stream, at most kMaxReplayV1Bytes
// of it, nested at most a replay's depth, no string or number longer than any replay writes; what
// it records is kept compactly (a cloud of a frame in 16 bytes, no more than its text takes), so
// memory stays within the text cap whatever the file.
#include <cstdint>
#include <deque>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"
#include "arena/replay/reader.hpp"

namespace nimbus::arena {

// A cloud of a frame, [id, kind, owner, x, y, mass] with the numbers rounded to hundredths: the
// hundredths, the id with the kind in its top bit.
struct FrameCloud {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t mass = 0;
    std::uint16_t idKind = 0;
    std::int16_t owner = 0;
};
inline constexpr std::uint16_t kFrameThunderstorm = 0x8000;
inline constexpr std::int64_t kMaxFrameCloudId = 0x7fff;

// What a version-1 replay records, as it says it: nothing in it is checked against the game yet.
struct RecordV1 {
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    // "format", "version", "end_tick", "end_reason"; "settings" with its "seed", "ticks",
    // "rainclouds", "players" and "tick_ms"; when asked for, "players", the first
    // kMaxReplayPlayers of them with their "index", "kind", "name" and "refused". A value where a
    // number or string belongs that is none (a list or an object) stands as an empty list.
    nlohmann::json top = nlohmann::json::object();
    std::deque<FrameCloud> clouds;  // of every frame, one after the other
    std::deque<std::uint16_t> frameSizes;
    std::deque<std::uint64_t> prints;
    std::deque<WindEvent> winds;  // each checked on its own (tick, player, finite), as recorded
    std::int64_t firstBadFrame = kNever;  // the first frame no game can show
    std::int64_t firstBadPrint = kNever;  // the first fingerprint that is no lower-case hex
    bool framesList = false;
    bool printsList = false;
    bool eventsList = false;
};

struct Version1Read {
    RecordV1 record;
    bool ours = false;     // the text names this arena's replay format
    bool damaged = false;  // the source is damaged or cut short before the text's end
    std::string problem;   // why the text is no version-1 record; empty when it was read whole
};

// Puts the winds in the order the game applies them: by tick, as recorded within a tick.
void orderByTick(std::deque<WindEvent>& winds);

// A version-1 replay from `source`: `start` is text already taken from it (its first line), the
// rest is read from it. With `withPlayers`, the players are kept too (their strings take at most
// what their text takes). Never throws.
Version1Read readVersion1(ReplaySource& source, std::string start, bool withPlayers = false);

}  // namespace nimbus::arena
