#include "arena/game/setup.hpp"

#include <cmath>
#include <numbers>

#include "arena/game/rng.hpp"
#include "bot/physics/numeric.hpp"

namespace nimbus::arena {

namespace {

constexpr int kPlacementTries = 50;

bool clearOfThunderstorms(const std::vector<Cloud>& clouds, double x, double y, double r) {
    for (const Cloud& c : clouds) {
        if (c.kind != CloudKind::Thunderstorm) {
            continue;
        }
        const double dx = x - c.state.x;
        const double dy = y - c.state.y;
        const double gap = floatSqrt(c.state.mass) + r + kRaincloudClearance;
        if (dx * dx + dy * dy < gap * gap) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<Cloud> initialClouds(std::uint64_t seed, std::int32_t players,
                                 std::int32_t rainclouds) {
    Rng rng(seed);
    std::vector<Cloud> clouds;
    clouds.reserve(static_cast<std::size_t>(players + rainclouds));
    const double turn = rng.uniform(0.0, 2.0 * std::numbers::pi);
    const double rx = kArenaWidth * 0.36;
    const double ry = kArenaHeight * 0.34;
    for (std::int32_t p = 0; p < players; ++p) {
        const double angle = turn + 2.0 * std::numbers::pi * p / players;
        Cloud c;
        c.id = p;
        c.kind = CloudKind::Thunderstorm;
        c.owner = p;
        c.state.x = static_cast<float>(kArenaWidth * 0.5 + rx * std::cos(angle));
        c.state.y = static_cast<float>(kArenaHeight * 0.5 + ry * std::sin(angle));
        c.state.mass = kThunderstormMass;
        clouds.push_back(c);
    }
    for (std::int32_t i = 0; i < rainclouds; ++i) {
        Cloud c;
        c.id = players + i;
        c.kind = CloudKind::Raincloud;
        c.state.mass = static_cast<float>(rng.uniform(kMinRaincloudMass, kMaxRaincloudMass));
        const double r = floatSqrt(c.state.mass);
        double x = 0.0;
        double y = 0.0;
        for (int t = 0; t < kPlacementTries; ++t) {
            x = rng.uniform(r, kArenaWidth - r);
            y = rng.uniform(r, kArenaHeight - r);
            if (clearOfThunderstorms(clouds, x, y, r)) {
                break;
            }
        }
        c.state.x = static_cast<float>(x);
        c.state.y = static_cast<float>(y);
        c.state.vx = static_cast<float>(rng.uniform(-kMaxRaincloudSpeed, kMaxRaincloudSpeed));
        c.state.vy = static_cast<float>(rng.uniform(-kMaxRaincloudSpeed, kMaxRaincloudSpeed));
        clouds.push_back(c);
    }
    return clouds;
}

}  // namespace nimbus::arena
