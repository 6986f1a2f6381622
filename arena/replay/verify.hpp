#pragma once
// Replay verification: the recorded game re-run from its seed and winds, every line of the record
// compared with the one the re-run game gives (docs/replay.md). Version 2 (encoder.hpp,
// written while the game runs) is read line by line, each line at most kMaxReplayLineBytes;
// version 1 (one JSON text with rounded positions and a fingerprint per tick, written by earlier
// arenas) is read as a stream of at most kMaxReplayV1Bytes. Either way memory stays bounded
// whatever the file holds.
#include <cstdint>
#include <string>

#include "arena/replay/reader.hpp"

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
// A record without its end line verifies (partial) only when the source's name ends in
// ".partial" and its data is cut short, not damaged; a damaged file never verifies. Never throws.
VerifyReport verifyReplay(ReplaySource& source);

}  // namespace nimbus::arena
