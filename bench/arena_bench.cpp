// Unpaced speed of the arena's game rules: ticks per second of a seeded game with 100 clouds
// (4 thunderstorms, 96 rainclouds), alone and with four greedy builtin players deciding.
#include <benchmark/benchmark.h>

#include <memory>

#include "arena/game/builtin_player.hpp"
#include "arena/game/game.hpp"

namespace {

using nimbus::arena::BuiltinKind;
using nimbus::arena::Game;
using nimbus::arena::GameSettings;

constexpr std::int32_t kPlayers = 4;
constexpr std::int32_t kTicksPerGame =
    1000;  // a fresh game then, so the cloud count stays near 100

GameSettings hundredClouds(std::uint64_t seed) {
    GameSettings s;
    s.seed = seed;
    s.players = kPlayers;
    s.rainclouds = 100 - kPlayers;
    s.ticks = kTicksPerGame;
    return s;
}

void runTicks(benchmark::State& state, bool greedy) {
    std::uint64_t seed = 1;
    auto game = std::make_unique<Game>(hundredClouds(seed));
    std::int64_t ticks = 0;
    for (auto _ : state) {
        if (game->over()) {
            state.PauseTiming();
            game = std::make_unique<Game>(hundredClouds(++seed));
            state.ResumeTiming();
        }
        if (greedy) {
            for (std::int32_t p = 0; p < kPlayers; ++p) {
                if (auto w = nimbus::arena::builtinWind(BuiltinKind::Greedy, *game, p)) {
                    game->queueWind(p, w->wx, w->wy);
                }
            }
        }
        game->step();
        ++ticks;
        benchmark::DoNotOptimize(game->clouds().data());
    }
    state.counters["ticks_per_s"] =
        benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kIsRate);
    state.counters["clouds_left"] = static_cast<double>(game->clouds().size());
}

void BM_ArenaTick100Clouds(benchmark::State& state) {
    runTicks(state, false);
}
void BM_ArenaTick100CloudsGreedyPlayers(benchmark::State& state) {
    runTicks(state, true);
}

BENCHMARK(BM_ArenaTick100Clouds);
BENCHMARK(BM_ArenaTick100CloudsGreedyPlayers);

}  // namespace
