#include "arena/game/absorption.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "bot/physics/numeric.hpp"

namespace nimbus::arena {

namespace {

// Whether every value is finite and every mass non-negative. Then masses only grow by merging,
// so a cloud that reaches no other at the start never reaches one later in the same tick (it
// keeps its state while the others keep their places and only get heavier).
bool wellFormed(const std::vector<Cloud>& clouds) {
    for (const Cloud& c : clouds) {
        const CloudState& s = c.state;
        if (!std::isfinite(s.x) || !std::isfinite(s.y) || !std::isfinite(s.vx) ||
            !std::isfinite(s.vy) || !std::isfinite(s.mass) || s.mass < 0.0f) {
            return false;
        }
    }
    return true;
}

// Marks every cloud that reaches another one; returns whether any does. A sweep over the clouds
// sorted by x: once the gap in x, computed as the contact test computes it, reaches the largest
// radius, dx * dx alone is at least every r * r, so that pair and every later one fail the test.
bool findEaters(const std::vector<Cloud>& clouds, std::vector<bool>& eater) {
    struct Entry {
        float x;
        std::uint32_t index;
    };
    const std::size_t n = clouds.size();
    std::vector<Entry> byX(n);
    std::vector<double> radius(n);
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        byX[i] = {clouds[i].state.x, static_cast<std::uint32_t>(i)};
        radius[i] = floatSqrt(clouds[i].state.mass);
        largest = std::max(largest, radius[i]);
    }
    std::sort(byX.begin(), byX.end(), [](const Entry& a, const Entry& b) { return a.x < b.x; });
    bool any = false;
    for (std::size_t a = 0; a < n; ++a) {
        const std::uint32_t i = byX[a].index;
        const CloudState& ci = clouds[i].state;
        for (std::size_t b = a + 1; b < n; ++b) {
            const std::uint32_t j = byX[b].index;
            const CloudState& cj = clouds[j].state;
            if (!(static_cast<double>(cj.x) - ci.x < largest)) {
                break;
            }
            if (reachesWithRadius(ci, radius[i], cj)) {
                eater[i] = true;
                any = true;
            }
            if (reachesWithRadius(cj, radius[j], ci)) {
                eater[j] = true;
                any = true;
            }
        }
    }
    return any;
}

// One pass, heaviest first: every cloud swallows what it reaches, growing as it goes. Clouds that
// are not marked as eaters cannot swallow anything and are passed over.
bool onePass(std::vector<Cloud>& clouds, const std::vector<bool>& eater, std::vector<bool>& gone,
             std::vector<Swallow>& out) {
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
        if (gone[i] || !eater[i]) {
            continue;
        }
        bool grew = true;
        while (grew) {  // a cloud that grew may now reach clouds it missed before
            grew = false;
            double r = floatSqrt(clouds[i].state.mass);
            for (std::size_t j : order) {
                if (j == i || gone[j] || !reachesWithRadius(clouds[i].state, r, clouds[j].state)) {
                    continue;
                }
                merge(clouds[i].state, clouds[j].state);
                r = floatSqrt(clouds[i].state.mass);
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
    std::vector<bool> eater(clouds.size(), false);
    if (!wellFormed(clouds)) {
        eater.assign(clouds.size(), true);  // no shortcut: every cloud gets its full pass
    } else if (!findEaters(clouds, eater)) {
        return swallows;
    }
    std::vector<bool> gone(clouds.size(), false);
    while (onePass(clouds, eater, gone, swallows)) {
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
