#include "bot/plan/thrifty/catch_options.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "bot/physics/motion.hpp"
#include "bot/physics/numeric.hpp"
#include "bot/physics/wind_law.hpp"

namespace nimbus {

namespace {

// The own path is predicted for 500 ticks from the snapshot's tick; its last slots are not read.
constexpr std::int32_t kOwnTicks = 496;
// Catch ticks are tried every kStep ticks, then one by one around the best of those.
constexpr std::int32_t kStep = 4;
// A weaker wind is not blown: the free path is as good.
constexpr double kSmallestWind = 0.05;

}  // namespace

std::vector<CatchOption> cheapestCatches(const CloudPaths& paths, const Trajectory& own,
                                         const CloudState& start, std::int32_t t, std::int32_t k0,
                                         const CatchRules& rules, std::size_t keep) {
    const double r = floatSqrt(start.mass);
    const double cap = rules.maxWindShare * start.mass;
    const std::int32_t lastN = std::min(paths.horizon(), kOwnTicks) - k0;

    // Targets by the best score they could reach (their whole mass, caught at once), so that the
    // search can stop once no target left can enter the best `keep`.
    struct Target {
        double bound;
        std::int32_t cloud;
        double mass;
    };
    std::vector<Target> targets;
    for (std::int32_t c = 0; c < paths.clouds(); ++c) {
        const double mass = paths.at(c, k0).mass;
        if (!paths.isRival(c) && start.mass > mass)
            targets.push_back({mass / (1.0 + rules.overheadTicks), c, mass});
    }
    std::sort(targets.begin(), targets.end(),
              [](const Target& a, const Target& b) { return a.bound > b.bound; });

    std::vector<CatchOption> options;
    std::vector<double> kept;  // the best scores so far, a min-heap of at most `keep`
    for (const Target& target : targets) {
        if (keep == 0 || (kept.size() >= keep && target.bound <= kept.front()))
            break;
        // The most the wind may cost: its share of the mass, and the bot must stay heavier.
        const double most = std::min(cap, start.mass - target.mass);
        CatchOption best{-std::numeric_limits<double>::infinity(), target.cloud, 0.0f, 0.0f};
        std::int32_t bestN = 0;
        // Tries the catch n ticks after t; sets stop when no later catch can do better.
        const auto tryCatch = [&](std::int32_t n, bool& stop) {
            if (target.mass / (n + rules.overheadTicks) <= best.score) {
                stop = true;  // later catches score less even for free
                return;
            }
            const CloudState& o = own.stateAt(tickAfter(t, n));
            if (velocityReversed(o, start.vx, start.vy)) {
                stop = true;  // the own free path bounced
                return;
            }
            const CloudState& c = paths.at(target.cloud, k0 + n);
            const double dx = double(c.x) - o.x;
            const double dy = double(c.y) - o.y;
            const double q = dx * dx + dy * dy;
            const double shiftSum = chaseShiftSum(n);
            const double reach = rules.aim * r + windShiftForCost(r, most, shiftSum);
            if (q > reach * reach)
                return;  // too far for what the wind may cost
            const double d = std::sqrt(q);
            const double shift = d - rules.aim * r;
            const double cost = windCostForShift(r, shift, shiftSum);
            if (cost > most || !(start.mass - cost > target.mass))
                return;
            const double score =
                (target.mass - rules.windWeight * cost) / (n + rules.overheadTicks);
            if (score > best.score) {
                best.score = score;
                bestN = n;
                const bool blow = shift > 0.0 && cost >= kSmallestWind;
                best.windX = blow ? static_cast<float>(dx / d * cost) : 0.0f;
                best.windY = blow ? static_cast<float>(dy / d * cost) : 0.0f;
            }
        };
        bool stop = false;
        for (std::int32_t n = 1; n <= lastN && !stop; n += kStep)
            tryCatch(n, stop);
        const std::int32_t around = bestN;
        for (std::int32_t n = std::max(1, around - kStep + 1);
             around > 0 && n <= std::min(lastN, around + kStep - 1); ++n) {
            bool ignored = false;
            if (n != around)
                tryCatch(n, ignored);
        }
        if (best.score > 0.0) {
            options.push_back(best);
            kept.push_back(best.score);
            std::push_heap(kept.begin(), kept.end(), std::greater<>());
            if (kept.size() > keep) {
                std::pop_heap(kept.begin(), kept.end(), std::greater<>());
                kept.pop_back();
            }
        }
    }
    std::sort(options.begin(), options.end(),
              [](const CatchOption& a, const CatchOption& b) { return a.score > b.score; });
    if (options.size() > keep)
        options.resize(keep);
    return options;
}

}  // namespace nimbus
