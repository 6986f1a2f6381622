#pragma once
// A seeded game recorded as the arena records it, and gzip as the arena writes it, for the replay
// tests.
#include <zlib.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "arena/game/builtin_player.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/game/results.hpp"

namespace nimbus::arena::testing {

struct Played {
    std::string text;  // the replay's lines, uncompressed
    std::vector<ResultRow> rows;
};

// A seeded game of greedy players recorded as the arena records it; player 0 also sends refused
// winds now and then (too strong, not a number, infinite); with `signedZeros`, player 1 also
// winds with a zero of either sign (as nimbus-bot does: "WIND -0.000000 3.000000").
inline Played playRecorded(std::int32_t ticks, std::int32_t players = 3, bool signedZeros = false) {
    GameSettings s;
    s.seed = 4242;
    s.ticks = ticks;
    s.players = players;
    Game game(s);
    std::vector<PlayerInfo> infos;
    for (std::int32_t p = 0; p < players; ++p) {
        infos.push_back({"greedy-" + std::to_string(p), "builtin", "", "", -1});
    }
    ReplayEncoder encoder(game);
    std::string text = ReplayEncoder::header(game, infos, 16);
    encoder.appendTick(game, text);
    while (!game.over()) {
        for (std::int32_t p = 0; p < players; ++p) {
            if (auto w = builtinWind(BuiltinKind::Greedy, game, p)) {
                game.queueWind(p, w->wx, w->wy);
            }
        }
        if (game.tick() % 50 == 0) {
            game.queueWind(0, 1000.0f, 0.0f);
            game.queueWind(0, std::numeric_limits<float>::quiet_NaN(), 0.0f);
            game.queueWind(0, 0.0f, -std::numeric_limits<float>::infinity());
        }
        if (signedZeros && game.tick() % 50 == 10 && players > 1) {
            game.queueWind(1, -0.0f, 0.5f);
            game.queueWind(1, 0.25f, -0.0f);
        }
        game.step();
        encoder.appendTick(game, text);
        game.forgetLogs();
    }
    text += ReplayEncoder::endLine(game, "ticks");
    return {text, rankPlayers(&game, infos)};
}

// `text` as one gzip member; with `lengthField`, its header names the member's length in the
// subfield "NL", as the arena writes it (docs/replay.md).
inline std::string gzipMember(const std::string& text, bool lengthField = false) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&z, text.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    auto little32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    std::string head("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    if (lengthField) {
        head[3] = 4;
        head += std::string("\x08\x00NL\x04\x00", 6) +
                little32(static_cast<std::uint32_t>(20 + packed.size() + 8));
    }
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    return head + packed + little32(crc) + little32(static_cast<std::uint32_t>(text.size()));
}

inline std::string gzip(const std::string& text) {
    return gzipMember(text);
}

}  // namespace nimbus::arena::testing
