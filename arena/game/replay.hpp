#pragma once
// Replay verification: the recorded game re-run from its seed and winds, every tick compared with
// the record. Version 2 (replay_format.hpp, written while the game runs) is read as a stream, line
// by line, with memory for one line; version 1 (one JSON text with rounded positions and a
// fingerprint per tick, written by earlier arenas) is read whole.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "arena/game/game.hpp"
#include "arena/game/replay_stream.hpp"

namespace nimbus::arena {

struct VerifyReport {
    bool ok = false;
    bool notReplay = false;  // the file is not a replay this arena can trust (shape or bounds)
    bool partial = false;    // ok, but the record stops before the game's end (no end line)
    std::int32_t ticksChecked = 0;
    std::string message;  // why, when not ok; what was checked, when ok
};

// Either version, from a source that may be gzip-compressed. Checks each number it reads
// (settings within arena/limits.hpp, ids, ticks, winds) before anything is allocated for it.
// Never throws.
VerifyReport verifyReplay(ReplaySource& source);

// A version-1 replay already parsed.
VerifyReport verifyReplayV1(const nlohmann::json& replay);

}  // namespace nimbus::arena
