#pragma once
// What the arena accepts from a client, in one place. Every limit is enforced by the server or
// the rules; what a client sends beyond them is refused, counted or ends its connection, so the
// arena's memory and its replay grow with the game's length, never with what clients send.
#include <cstddef>
#include <cstdint>

namespace nimbus::arena {

// A line longer than this (without its line feed) ends the connection.
inline constexpr std::size_t kMaxLineBytes = 4096;

// A NAME: valid UTF-8, printable (no control characters), 1 to this many bytes; anything else
// gets "ERROR bad name".
inline constexpr std::size_t kMaxNameBytes = 48;

// A connection that leaves more replies than this unread, or sends more than this before the
// game starts, is dropped.
inline constexpr std::size_t kMaxPendingReplyBytes = 1024 * 1024;

// The command budget of one player in one tick: WIND commands, and GET_STATE commands (a base
// plus one per millisecond of the tick, so a bot that polls every millisecond stays inside).
// Commands beyond it get "ERROR over budget" and are counted, nothing more.
inline constexpr std::int32_t kWindsPerTick = 4;
inline constexpr std::int32_t kStatesPerTickBase = 16;
inline constexpr std::int32_t statesPerTick(std::int32_t tickMs) {
    return kStatesPerTickBase + (tickMs > 0 ? tickMs : 0);
}

// Replays --verify accepts: larger settings are not a replay.
inline constexpr std::int64_t kMaxReplayPlayers = 1024;
inline constexpr std::int64_t kMaxReplayRainclouds = 10000;
inline constexpr std::int64_t kMaxReplayTicks = 100000000;
// A line of a replay (version 2) longer than this is not a replay: a tick line of the largest
// game above is at most 959,850 bytes (every cloud moved and changed mass, four winds of every
// player, every cloud swallowed, each number at its longest), its header and end line far less.
inline constexpr std::size_t kMaxReplayLineBytes = 1024u * 1024;
// A version-1 replay (one JSON text, written by earlier arenas) longer than this is refused: eight
// times the default game's (3.9 MB); --verify keeps what it needs of it in no more bytes.
inline constexpr std::size_t kMaxReplayV1Bytes = 32u * 1024 * 1024;

// The peak memory (VmHWM) the hostile-load test allows the arena during a 600-tick game with 64
// hostile clients (sanitizer builds too, with an 8 MiB quarantine).
inline constexpr std::int64_t kHostileLoadMemoryBytes = 256ll * 1024 * 1024;

}  // namespace nimbus::arena
