#include "bot/plan/thrifty/path_sim.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "bot/physics/motion.hpp"
#include "bot/physics/swallow.hpp"
#include "bot/physics/wind_law.hpp"

namespace nimbus {

namespace {

// The marks of CloudPaths::markNear are read eight at a time, the first cloud's in the lowest byte.
static_assert(std::endian::native == std::endian::little);

// All four sides tested without a branch: most boxes are far, in no predictable direction.
bool nearBox(const CloudPaths::Box& b, double x, double y, double reach) {
    return static_cast<bool>((x >= b.minX - reach) & (x <= b.maxX + reach) & (y >= b.minY - reach) &
                             (y <= b.maxY + reach));
}

}  // namespace

// The three helpers of run() below are defined inline, here alone: run()'s loop is a decision's
// hot path, and out of line they cost keen a tenth of its decision time.

inline double PathSimulator::marginOf(std::int32_t c, float dangerMargin) const {
    return paths_.isRival(c) ? double(rivalDangerMargin) : double(dangerMargin);
}

inline void PathSimulator::collectNear(const CloudState& own, double ownRadius, std::int32_t k,
                                       std::int32_t blockEnd, double heaviestReach,
                                       float dangerMargin) {
    // The own cloud moves at most its speed times the ticks left (damping and bounces only
    // shorten that).
    const std::int32_t block = CloudPaths::blockOf(k);
    const double travel =
        0.1 * std::sqrt(double(own.vx) * own.vx + double(own.vy) * own.vy) * (blockEnd - k + 1) +
        1.0;
    const double farthest = std::max(ownRadius, heaviestReach);
    near_.clear();
    const auto consider = [&](std::int32_t c) {
        if (eaten_[static_cast<std::size_t>(c)])
            return;
        const CloudPaths::Box box = paths_.box(c, block);
        const double mass = CloudPaths::startsBlock(k) ? box.firstMass : paths_.at(c, k).mass;
        const double reach =
            mass < own.mass ? ownRadius : std::sqrt(mass) + marginOf(c, dangerMargin);
        if (nearBox(box, own.x, own.y, reach + travel))
            near_.push_back(c);
    };
    // Out of reach for any cloud, most are: only the marked clouds are looked at closely, eight
    // marks read at a time.
    paths_.markNear(block, own.x, own.y, farthest + travel, mayReach_);
    if (only.empty()) {
        for (std::size_t first = 0; first < mayReach_.size(); first += 8) {
            std::uint64_t marks = 0;
            std::memcpy(&marks, &mayReach_[first], sizeof marks);
            for (; marks != 0; marks &= marks - 1)
                consider(static_cast<std::int32_t>(first) + std::countr_zero(marks) / 8);
        }
    } else {
        for (const std::int32_t c : only) {
            if (mayReach_[static_cast<std::size_t>(c)])
                consider(c);
        }
    }
}

inline bool PathSimulator::meet(CloudState& own, double r, std::int32_t k, float dangerMargin,
                                bool gains, PathOutcome& out) {
    bool grew = false;
    for (const std::int32_t c : near_) {
        if (eaten_[static_cast<std::size_t>(c)])
            continue;
        const CloudState& o = paths_.at(c, k);
        if (!(o.mass > 0.0f))
            continue;  // swallowed by another cloud by now
        const double dx = double(o.x) - own.x;
        const double dy = double(o.y) - own.y;
        const double q = dx * dx + dy * dy;
        if (o.mass < own.mass) {
            if (gains && q < r * r) {
                merge(own, o);
                eaten_[static_cast<std::size_t>(c)] = 1;
                swallowed_.push_back(c);
                out.gain += o.mass;
                out.value += paths_.isRival(c) ? o.mass * rivalWeight : double(o.mass);
                out.catches += 1;
                if (out.firstCatch < 0) {
                    out.firstCatch = k;
                    out.firstCloud = c;
                }
                out.lastCatch = k;
                grew = true;
            }
        } else if (o.mass > own.mass) {
            const double reach = std::sqrt(double(o.mass)) + marginOf(c, dangerMargin);
            if (q < reach * reach) {
                out.danger = k;
                return grew;
            }
        }
    }
    return grew;
}

PathOutcome PathSimulator::run(CloudState own, std::int32_t k0, float wx, float wy,
                               std::int32_t until, float dangerMargin, bool gains) {
    PathOutcome out;
    const std::int32_t clouds = paths_.clouds();
    eaten_.assign(static_cast<std::size_t>(clouds), 0);
    for (const std::int32_t c : gone)
        eaten_[static_cast<std::size_t>(c)] = 1;
    swallowed_.clear();
    if (wx != 0.0f || wy != 0.0f) {
        // The arena's law, but paying the strength unrounded.
        pushByWind(own, wx, wy);
        out.spent = windStrengthDouble(wx, wy);
        payForWind(own, out.spent);
    }
    until = std::min(until, paths_.horizon());
    WallBounds walls(own.mass);
    // The largest reach, for a first cheap test: the own radius grows with every swallow, and no
    // cloud is heavier than the heaviest.
    const double heaviestReach = std::sqrt(double(paths_.heaviest())) +
                                 std::max(double(rivalDangerMargin), double(dangerMargin));
    std::int32_t k = k0 + 1;
    while (k <= until) {
        // Block by block: the clouds that can come within reach before the block ends, then
        // tick by tick against those, until a swallow makes the own cloud bigger.
        const std::int32_t blockEnd =
            std::min(until, (CloudPaths::blockOf(k) + 1) * CloudPaths::kBlockTicks);
        collectNear(own, double(walls.radius), k, blockEnd, heaviestReach, dangerMargin);
        bool grew = false;
        for (; k <= blockEnd && !grew; ++k) {
            walls.move(own);
            grew = meet(own, walls.radius, k, dangerMargin, gains, out);
            if (out.danger >= 0) {
                out.end = own;
                return out;
            }
        }
        if (grew)
            walls = WallBounds(own.mass);  // a bigger cloud: find the clouds near it again
    }
    out.end = own;
    return out;
}

}  // namespace nimbus
