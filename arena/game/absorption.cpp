#include "arena/game/absorption.hpp"

#include <algorithm>

#include "bot/physics/numeric.hpp"

namespace nimbus::arena {

bool reaches(const CloudState& big, const CloudState& small) {
    if (!(big.mass > small.mass)) {
        return false;
    }
    const double r = floatSqrt(big.mass);
    const double dx = static_cast<double>(small.x) - big.x;
    const double dy = static_cast<double>(small.y) - big.y;
    return dx * dx + dy * dy < r * r;
}

void merge(CloudState& eater, const CloudState& victim) {
    const double m1 = eater.mass;
    const double m2 = victim.mass;
    const double total = m1 + m2;
    eater.vx = static_cast<float>((m1 * eater.vx + m2 * victim.vx) / total);
    eater.vy = static_cast<float>((m1 * eater.vy + m2 * victim.vy) / total);
    eater.mass = static_cast<float>(total);
}

namespace {

// One pass, heaviest first: every cloud swallows what it reaches, growing as it goes.
bool onePass(std::vector<Cloud>& clouds, std::vector<bool>& gone, std::vector<Swallow>& out) {
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
    bool any = false;
    for (std::size_t i : order) {
        if (gone[i]) {
            continue;
        }
        bool grew = true;
        while (grew) {  // a cloud that grew may now reach clouds it missed before
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
    return any;
}

}  // namespace

std::vector<Swallow> resolveAbsorption(std::vector<Cloud>& clouds) {
    std::vector<Swallow> swallows;
    std::vector<bool> gone(clouds.size(), false);
    while (onePass(clouds, gone, swallows)) {
    }
    std::size_t keep = 0;
    for (std::size_t i = 0; i < clouds.size(); ++i) {
        if (!gone[i]) {
            clouds[keep++] = clouds[i];
        }
    }
    clouds.resize(keep);
    return swallows;
}

}  // namespace nimbus::arena
