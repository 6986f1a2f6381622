#pragma once
// The absorption rules as first written (every pair, every pass, heaviest first), kept as the
// reference that resolveAbsorption must match bit for bit, and a whole-game comparison against
// it: seeded games with greedy builtin players, every tick checked. Shared by the absorption test
// and the nimbus-absorption-check tool.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "arena/game/absorption.hpp"
#include "arena/game/builtin_player.hpp"
#include "arena/game/game.hpp"
#include "arena/game/wind_law.hpp"
#include "bot/physics/motion.hpp"

namespace nimbus::arena::reference {

inline std::vector<Swallow> resolveAbsorption(std::vector<Cloud>& clouds) {
    std::vector<Swallow> out;
    std::vector<bool> gone(clouds.size(), false);
    bool any = true;
    while (any) {
        any = false;
        std::vector<std::size_t> order(clouds.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            if (clouds[a].state.mass != clouds[b].state.mass) {
                return clouds[a].state.mass > clouds[b].state.mass;
            }
            return clouds[a].id < clouds[b].id;
        });
        for (std::size_t i : order) {
            if (gone[i]) {
                continue;
            }
            bool grew = true;
            while (grew) {
                grew = false;
                for (std::size_t j : order) {
                    if (j == i || gone[j] || !reaches(clouds[i].state, clouds[j].state)) {
                        continue;
                    }
                    merge(clouds[i].state, clouds[j].state);
                    gone[j] = true;
                    out.push_back({clouds[i].id, clouds[j].id});
                    grew = true;
                    any = true;
                }
            }
        }
    }
    std::size_t keep = 0;
    for (std::size_t i = 0; i < clouds.size(); ++i) {
        if (!gone[i]) {
            clouds[keep++] = clouds[i];
        }
    }
    clouds.resize(keep);
    return out;
}

// Same ids and the same bits in every value, in the same order.
inline bool sameClouds(const std::vector<Cloud>& a, const std::vector<Cloud>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id ||
            std::memcmp(&a[i].state, &b[i].state, sizeof(CloudState)) != 0) {
            return false;
        }
    }
    return true;
}

inline bool sameSwallows(const std::vector<Swallow>& a, const std::vector<Swallow>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Swallow& x, const Swallow& y) {
                          return x.by == y.by && x.victim == y.victim;
                      });
}

struct GameComparison {
    std::int64_t ticks = 0;
    std::int64_t swallows = 0;
    std::int64_t differingTicks = 0;
    std::int32_t firstDifferingTick = -1;
};

// Plays a seeded game with greedy builtin players. Before every tick it rebuilds what the step
// will absorb from (the accepted winds on a copy of the clouds, then one motion step, as
// Game::step does), resolves that copy with the reference rules, and compares the clouds
// (hence the fingerprint) and the swallows of the game's own step with it.
inline GameComparison compareGame(const GameSettings& settings) {
    GameComparison result;
    Game game(settings);
    while (!game.over()) {
        std::vector<Cloud> expected = game.clouds();
        for (std::int32_t p = 0; p < settings.players; ++p) {
            const auto wind = builtinWind(BuiltinKind::Greedy, game, p);
            if (!wind || !game.queueWind(p, wind->wx, wind->wy).accepted) {
                continue;
            }
            for (Cloud& c : expected) {
                if (c.kind == CloudKind::Thunderstorm && c.owner == p) {
                    applyWind(c.state, wind->wx, wind->wy);
                }
            }
        }
        for (Cloud& c : expected) {
            moveOneTick(c.state);
        }
        const std::vector<Swallow> wanted = reference::resolveAbsorption(expected);
        const std::size_t logged = game.swallowLog().size();
        game.step();
        std::vector<Swallow> got;
        for (std::size_t k = logged; k < game.swallowLog().size(); ++k) {
            got.push_back({game.swallowLog()[k].by, game.swallowLog()[k].victim});
        }
        ++result.ticks;
        result.swallows += static_cast<std::int64_t>(got.size());
        if (!sameClouds(game.clouds(), expected) || !sameSwallows(got, wanted)) {
            ++result.differingTicks;
            if (result.firstDifferingTick < 0) {
                result.firstDifferingTick = game.tick();
            }
            break;  // the games part here; later ticks would compare different inputs
        }
    }
    return result;
}

}  // namespace nimbus::arena::reference
