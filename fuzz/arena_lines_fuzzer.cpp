// The arena's side of a connection against any byte stream, cut into reads of any size: line
// assembly never holds more than a line's limit, every line parses into a command or an error
// short enough for the bot's reply buffer, names are printable UTF-8, and the winds that reach
// the rules leave only finite values in the game's log.
#include "arena/game/game.hpp"
#include "arena/server/line_assembler.hpp"
#include "arena/server/protocol.hpp"

#include <cmath>

namespace {

void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace nimbus::arena;
    if (size < 1) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;  // reads of 1 to 64 bytes
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    GameSettings settings;
    settings.players = 2;
    settings.rainclouds = 3;
    settings.ticks = 50;
    Game game(settings);
    LineAssembler lines;
    std::int32_t player = 0;
    for (std::size_t at = 0; at < length; at += chunk) {
        const std::size_t n = std::min(chunk, length - at);
        const auto stop = lines.feed(text + at, n, [&](std::string&& line) {
            check(line.size() <= kMaxLineBytes);
            check(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos);
            const Command c = parseCommand(line);
            switch (c.kind) {
                case CommandKind::Invalid:
                    check(!c.error.empty() && c.error.size() <= kMaxReasonBytes);
                    break;
                case CommandKind::Name:
                    check(isGoodName(c.name) && c.name.size() <= kMaxNameBytes);
                    break;
                case CommandKind::Wind: {
                    const WindVerdict v = game.queueWind(player, c.wx, c.wy);
                    check(v.reason.size() <= kMaxReasonBytes);
                    player = 1 - player;
                    break;
                }
                case CommandKind::GetState:
                    check(formatState(game, player).size() < 4096);
                    game.step();
                    break;
            }
            return true;
        });
        check(lines.pendingBytes() <= kMaxLineBytes);
        if (stop == LineAssembler::Stop::TooLong) {
            break;
        }
    }
    for (const WindEvent& w : game.windLog()) {
        check(std::isfinite(w.wx) && std::isfinite(w.wy));
    }
    check(game.windLog().size() <= static_cast<std::size_t>(kWindsPerTick) * 2 *
                                       (static_cast<std::size_t>(game.tick()) + 1));
    return 0;
}
