#include "bot/plan/catch_bound.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "bot/physics/numeric.hpp"
#include "bot/plan/wind_law.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kBlockTicks = 16;
constexpr float kNoBound = std::numeric_limits<float>::infinity();

// One tick moves a coordinate by at most |v| x 0.1 (as the float 0.1f, rounded) plus the
// rounding of the sum and of a wall clamp (below 2e-4 inside the arena); |v| shrinks by at least
// the float 0.999 (rounded) every tick and a bounce only shrinks it more.
constexpr double kStepFactor = 0.1000000075;
constexpr double kDampingAtMost = 0.99900003;
constexpr double kSlackPerTick = 2e-4;

// Distance from v to the interval lo .. hi (0 inside).
double outside(double v, double lo, double hi) {
    return std::max({0.0, lo - v, v - hi});
}

}  // namespace

CatchBound::CatchBound(const Trajectory& own, std::int32_t tick, std::int32_t start,
                       std::int32_t window)
    : lead_(start - tick),
      last_(window - 1 - lead_),
      ownMass_(own.stateAt(start).mass),
      radius_(floatSqrt(ownMass_)),
      usable_(radius_ > 0.0 && radius_ < 1e15 && last_ >= 1) {
    if (!usable_)
        return;
    ownX_.resize(static_cast<std::size_t>(last_) + 1);
    ownY_.resize(static_cast<std::size_t>(last_) + 1);
    for (std::int32_t n = 0; n <= last_; ++n) {
        const CloudState& s = own.stateAt(start + n);
        // Every stage of a plan takes the bot's mass from the own path: it must not vary.
        if (std::bit_cast<std::uint32_t>(s.mass) != std::bit_cast<std::uint32_t>(ownMass_)) {
            usable_ = false;
            return;
        }
        ownX_[static_cast<std::size_t>(n)] = s.x;
        ownY_[static_cast<std::size_t>(n)] = s.y;
    }

    travel_.resize(static_cast<std::size_t>(lead_ + last_) + 1);
    double sum = 0.0;
    double speed = 1.0;
    for (std::size_t k = 0; k < travel_.size(); ++k) {
        travel_[k] = sum * (1.0 + 1e-9);
        sum += kStepFactor * speed;
        speed *= kDampingAtMost;
    }

    for (std::int32_t first = 1; first <= last_; first += kBlockTicks) {
        Block b{ownX_[first], ownX_[first], ownY_[first], ownY_[first], false};
        for (std::int32_t n = first; n <= std::min(last_, first + kBlockTicks - 1); ++n) {
            const double x = ownX_[static_cast<std::size_t>(n)];
            const double y = ownY_[static_cast<std::size_t>(n)];
            if (x != x || y != y)
                b.unknown = true;
            b.minX = std::min(b.minX, x);
            b.maxX = std::max(b.maxX, x);
            b.minY = std::min(b.minY, y);
            b.maxY = std::max(b.maxY, y);
        }
        blocks_.push_back(b);
    }
}

// The distance beyond which a catch at tick offset n costs more than cap for certain:
// cost = r (d - r) / chaseShiftSum(n') with n' <= n for a follow-up stage (which starts later and
// counts its own offset), and chaseShiftSum grows with n by far more than its roundings.
double CatchBound::threshold(double cap, std::int32_t n) const {
    return radius_ + (cap * (1.0 + 2e-6) + 1e-29) * chaseShiftSum(n) / radius_;
}

// True when the own cloud at offset n is certainly too far from the target for an affordable
// catch: distX, distY are its distances from the target's start, travelX, travelY the furthest
// the target can have moved. Allows for the planner's float roundings of the distance.
bool CatchBound::ruledOut(double distX, double distY, double travelX, double travelY, double cap,
                          std::int32_t n) const {
    const double gapX = std::max(0.0, distX - travelX);
    const double gapY = std::max(0.0, distY - travelY);
    const double gap = std::sqrt(gapX * gapX + gapY * gapY);
    return gap * (1.0 - 1e-5) > threshold(cap, n);
}

float CatchBound::scoreBound(const CloudState& cloud, float reserve) const {
    const double mass = cloud.mass;
    if (mass != mass || !usable_)
        return kNoBound;
    // The gain of any catch is at most the target's mass; a score above 0 needs a gain above 0.
    if (!(mass > 0.0))
        return 0.0f;
    // The planner's wind limit, and so the most a catch may cost.
    const double own = ownMass_;
    float limit = static_cast<float>(own - cloud.mass - reserve - 1.0);
    if (limit > own * 0.5 - 1.0)
        limit = static_cast<float>(own * 0.5 - 1.0);
    const double cap = limit < cloud.mass ? double(limit) : mass;
    if (cap < 0.0)
        return 0.0f;  // every cost is at least 0
    if (!(cap < 1e30))
        return kNoBound;

    // The target moves at most |v| x travel_[k] + slack in k ticks from a start inside the arena
    // (a wall clamp then never moves it further than the move it cuts short).
    const float r = floatSqrt(cloud.mass);
    const double tx = cloud.x;
    const double ty = cloud.y;
    const double vx = std::fabs(double(cloud.vx));
    const double vy = std::fabs(double(cloud.vy));
    const bool inside = r <= 360.0f && tx >= r && tx <= kArenaWidth - r && ty >= r &&
                        ty <= kArenaHeight - r && vx < 1e15 && vy < 1e15;
    if (!inside)
        return static_cast<float>(mass);  // no catch before offset 1
    const auto travelX = [&](std::int32_t n) {
        const std::int32_t k = lead_ + n;
        return vx * travel_[static_cast<std::size_t>(k)] + kSlackPerTick * k;
    };
    const auto travelY = [&](std::int32_t n) {
        const std::int32_t k = lead_ + n;
        return vy * travel_[static_cast<std::size_t>(k)] + kSlackPerTick * k;
    };

    // A block is ruled out as a whole with the smallest gap, the furthest travel and the largest
    // threshold (at its last tick) over its ticks; else tick by tick.
    std::int32_t first = 1;
    for (const Block& b : blocks_) {
        const std::int32_t end = std::min(last_, first + kBlockTicks - 1);
        if (b.unknown || !ruledOut(outside(tx, b.minX, b.maxX), outside(ty, b.minY, b.maxY),
                                   travelX(end), travelY(end), cap, end)) {
            for (std::int32_t n = first; n <= end; ++n) {
                const double distX = std::fabs(ownX_[static_cast<std::size_t>(n)] - tx);
                const double distY = std::fabs(ownY_[static_cast<std::size_t>(n)] - ty);
                if (!ruledOut(distX, distY, travelX(n), travelY(n), cap, n))
                    return static_cast<float>(mass / n);
            }
        }
        first += kBlockTicks;
    }
    return 0.0f;
}

}  // namespace nimbus
