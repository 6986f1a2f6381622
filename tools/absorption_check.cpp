// nimbus-absorption-check [GAMES] [TICKS] [FIRST_SEED]: plays seeded games of 100 clouds with
// greedy builtin players and compares every tick's clouds (ids and exact bits, so the
// fingerprint) and swallows with the absorption rules as first written. Prints the counts; exits
// 1 when any tick differs.
#include <cstdio>
#include <cstdlib>

#include "tools/absorption_reference.hpp"

int main(int argc, char** argv) {
    const long games = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 300;
    const long ticks = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3000;
    const long firstSeed = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 1;
    long long totalTicks = 0;
    long long swallows = 0;
    long differing = 0;
    for (long g = 0; g < games; ++g) {
        nimbus::arena::GameSettings settings;
        settings.seed = static_cast<std::uint64_t>(firstSeed + g);
        settings.players = 2 + static_cast<std::int32_t>(g % 7);  // 2 to 8 players
        settings.rainclouds = 100 - settings.players;
        settings.ticks = static_cast<std::int32_t>(ticks);
        const auto c = nimbus::arena::reference::compareGame(settings);
        totalTicks += c.ticks;
        swallows += c.swallows;
        if (c.differingTicks > 0) {
            ++differing;
            std::printf("seed %llu: differs at tick %d\n",
                        static_cast<unsigned long long>(settings.seed), c.firstDifferingTick);
        }
    }
    std::printf("%ld games, %lld ticks, %lld swallows: %ld games differ\n", games, totalTicks,
                swallows, differing);
    return differing == 0 ? 0 : 1;
}
