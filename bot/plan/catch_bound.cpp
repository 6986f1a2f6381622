#include "bot/plan/catch_bound.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "bot/physics/numeric.hpp"
#include "bot/physics/wind_law.hpp"

namespace nimbus {

namespace {

constexpr std::int32_t kBlockTicks = 16;
constexpr std::int32_t kGroupTicks = 8 * kBlockTicks;
constexpr std::int32_t kMaxTicks = 1024;
constexpr float kNoBound = std::numeric_limits<float>::infinity();

// One tick moves a coordinate by at most |v| x 0.1 (as the float 0.1f, rounded) plus the
// rounding of the sum and of a wall clamp (below 2e-4 inside the arena); |v| shrinks by at least
// the float 0.999 (rounded) every tick and a bounce only shrinks it more.
constexpr double kStepFactor = 0.1000000075;
constexpr double kDampingAtMost = 0.99900003;
constexpr double kSlackPerTick = 2e-4;

// The furthest move per unit of start speed in k ticks, k = 0 .. 1023, a little generous.
constexpr std::array<double, kMaxTicks> makeTravelTable() {
    std::array<double, kMaxTicks> table{};
    double sum = 0.0;
    double speed = 1.0;
    for (std::size_t k = 0; k < table.size(); ++k) {
        table[k] = sum * (1.0 + 1e-9);
        sum += kStepFactor * speed;
        speed *= kDampingAtMost;
    }
    return table;
}
constexpr std::array<double, kMaxTicks> kTravel = makeTravelTable();

// The damped straight path per unit of start velocity after k ticks, k = 0 .. 1023: the sum of
// 0.1f x 0.999f^j over j < k, with the float constants of the motion model.
constexpr std::array<double, kMaxTicks> makeStraightTable() {
    std::array<double, kMaxTicks> table{};
    double sum = 0.0;
    double speed = 1.0;
    for (std::size_t k = 0; k < table.size(); ++k) {
        table[k] = sum;
        sum += double(0.1f) * speed;
        speed *= double(0.999f);
    }
    return table;
}
constexpr std::array<double, kMaxTicks> kStraight = makeStraightTable();

// How far the float path can stray from the straight path in k ticks without a bounce: each tick
// rounds the sum (below 6.2e-5 inside the arena) and the step, and the velocity's roundings
// (relative 6e-8 a tick) add up; generous.
double straightError(double v, std::int32_t k) {
    return 1e-3 + 1e-4 * k + std::fabs(v) * k * (k + 1.0) * 1e-8;
}

// Distance between two intervals (0 when they meet; 0 for NaN).
double apart(double lo1, double hi1, double lo2, double hi2) {
    return std::max({0.0, lo2 - hi1, lo1 - hi2});
}

// The planner's distance of two centres is the exact one within a relative 3e-7; this lower
// bound of it allows 1e-5.
constexpr double kDistanceFloor = 1.0 - 1e-5;

// Whether a distance whose square is at least gapSquared is, as the planner computes it, beyond
// reach (reach > 0). NaN never is.
bool beyond(double gapSquared, double reach) {
    return gapSquared * (kDistanceFloor * kDistanceFloor) > reach * reach;
}

}  // namespace

CatchBound::CatchBound(const Trajectory& own, std::int32_t tick, std::int32_t start,
                       std::int32_t window)
    : lead_(start - tick),
      last_(window - 1 - lead_),
      ownMass_(own.stateAt(start).mass),
      radius_(floatSqrt(ownMass_)),
      usable_(radius_ > 0.0 && radius_ < 1e15 && last_ >= 1 && lead_ >= 0 &&
              lead_ + last_ < kMaxTicks) {
    if (!usable_)
        return;
    ownX_.resize(static_cast<std::size_t>(last_) + 1);
    ownY_.resize(static_cast<std::size_t>(last_) + 1);
    const std::uint32_t massBits = std::bit_cast<std::uint32_t>(ownMass_);
    std::int32_t slot = own.slotOf(start);
    for (std::int32_t n = 0; n <= last_; ++n, slot = slot + 1 == own.capacity ? 0 : slot + 1) {
        const CloudState& s = own.states[static_cast<std::size_t>(slot)];
        // Every stage of a plan takes the bot's mass from the own path: it must not vary.
        if (std::bit_cast<std::uint32_t>(s.mass) != massBits) {
            usable_ = false;
            return;
        }
        ownX_[static_cast<std::size_t>(n)] = s.x;
        ownY_[static_cast<std::size_t>(n)] = s.y;
    }
    // Bounding boxes of the own positions over blocks of ticks, then over groups of blocks.
    for (std::int32_t first = 1; first <= last_; first += kBlockTicks) {
        const std::size_t at = static_cast<std::size_t>(first);
        Block b{ownX_[at], ownX_[at], ownY_[at], ownY_[at], false};
        for (std::int32_t n = first; n <= std::min(last_, first + kBlockTicks - 1); ++n)
            b.add(ownX_[static_cast<std::size_t>(n)], ownY_[static_cast<std::size_t>(n)]);
        blocks_.push_back(b);
    }
    for (std::size_t first = 0; first < blocks_.size(); first += kGroupTicks / kBlockTicks) {
        Block g = blocks_[first];
        for (std::size_t i = first; i < std::min(blocks_.size(), first + kGroupTicks / kBlockTicks);
             ++i)
            g.add(blocks_[i]);
        groups_.push_back(g);
    }
}

CatchBound::Target CatchBound::targetOf(const CloudState& cloud, float reserve) const {
    Target t{Target::Unknown, cloud.mass, 0.0, {}, {}};
    if (t.mass != t.mass || !usable_)
        return t;
    // The gain of any catch is at most the target's mass; a score above 0 needs a gain above 0.
    t.kind = Target::Zero;
    if (!(t.mass > 0.0))
        return t;
    // The planner's wind limit: the most a catch may cost, with the target's mass.
    const double own = ownMass_;
    float limit = static_cast<float>(own - cloud.mass - reserve - 1.0);
    if (limit > own * 0.5 - 1.0)
        limit = static_cast<float>(own * 0.5 - 1.0);
    t.cap = limit < cloud.mass ? double(limit) : t.mass;
    if (t.cap < 0.0)
        return t;  // every cost is at least 0
    t.kind = Target::Unknown;
    if (!(t.cap < 1e30))
        return t;
    // Within the arena the target moves at most |v| x kTravel[k] + slack in k ticks: a wall
    // clamp never moves it further than the move it cuts short.
    const float r = floatSqrt(cloud.mass);
    const double right = kArenaWidth - r;
    const double top = kArenaHeight - r;
    const bool inside = r <= 360.0f && cloud.x >= r && cloud.x <= right && cloud.y >= r &&
                        cloud.y <= top && std::fabs(cloud.vx) < 1e15f &&
                        std::fabs(cloud.vy) < 1e15f;
    if (!inside) {
        t.kind = Target::FromStart;
        return t;
    }
    t.kind = Target::Bounded;
    t.x = axisOf(cloud.x, cloud.vx, r, right);
    t.y = axisOf(cloud.y, cloud.vy, r, top);
    return t;
}

// The straight path from start runs one way, so it stays clear of the walls low and high up to
// tick k when the span from start to its point at k, widened by the error, does; that holds up
// to some tick and not after, which a binary search finds. While no wall is touched the float
// path is the straight one within the error.
CatchBound::Axis CatchBound::axisOf(double start, double v, double low, double high) {
    const auto clear = [&](std::int32_t k) {
        const double at = start + v * kStraight[static_cast<std::size_t>(k)];
        const double error = straightError(v, k);
        return std::min(start, at) - error > low && std::max(start, at) + error < high;
    };
    std::int32_t lo = -1;         // clear up to lo
    std::int32_t hi = kMaxTicks;  // not clear from hi on
    while (hi - lo > 1) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        (clear(mid) ? lo : hi) = mid;
    }
    return Axis{start, v, lo};
}

// Where the target can be on one axis k ticks after its start: on its straight path within the
// error while that is clear of the walls, else anywhere within the furthest it can move.
CatchBound::Span CatchBound::span(const Axis& a, std::int32_t k) {
    if (k <= a.free) {
        const double at = a.start + a.v * kStraight[static_cast<std::size_t>(k)];
        const double error = straightError(a.v, k);
        return {at - error, at + error};
    }
    const double travel = std::fabs(a.v) * kTravel[static_cast<std::size_t>(k)] + kSlackPerTick * k;
    return {a.start - travel, a.start + travel};
}

// The square of a lower bound of the distance between the own centre and the target's at tick
// offset n.
double CatchBound::gap(const Target& t, std::int32_t n) const {
    const std::int32_t k = lead_ + n;
    const Span sx = span(t.x, k);
    const Span sy = span(t.y, k);
    const double ox = ownX_[static_cast<std::size_t>(n)];
    const double oy = ownY_[static_cast<std::size_t>(n)];
    const double x = apart(ox, ox, sx.lo, sx.hi);
    const double y = apart(oy, oy, sy.lo, sy.hi);
    return x * x + y * y;
}

// The distance beyond which a catch at tick offset n costs more than cap for certain: the
// planner's cost is rimCatchCost(r, d, chaseShiftSum(n')) with n' <= n for a follow-up stage
// (which starts later and counts its own offset), and chaseShiftSum grows with n by far more than
// its roundings.
double CatchBound::reach(double cap, std::int32_t n) const {
    return certainCatchReach(radius_, cap, chaseShiftSum(n));
}

// Whether a catch at any tick offset first .. end is certainly unaffordable: the least gap
// between the own path's bounding box b over those ticks and the target's span over them, against
// the reach at the last of them (the largest). The target's spans at the first and the last tick,
// widened by the largest error, hold it for every tick between: its straight path runs one way,
// and the furthest move only grows.
bool CatchBound::ruledOut(const Block& b, std::int32_t first, std::int32_t end,
                          const Target& t) const {
    if (b.unknown)
        return false;
    const std::int32_t k1 = lead_ + first;
    const std::int32_t k2 = lead_ + end;
    const Span x1 = span(t.x, k1);
    const Span x2 = span(t.x, k2);
    const Span y1 = span(t.y, k1);
    const Span y2 = span(t.y, k2);
    const double ex = straightError(t.x.v, k2);
    const double ey = straightError(t.y.v, k2);
    const double gapX =
        apart(b.minX, b.maxX, std::min(x1.lo, x2.lo) - ex, std::max(x1.hi, x2.hi) + ex);
    const double gapY =
        apart(b.minY, b.maxY, std::min(y1.lo, y2.lo) - ey, std::max(y1.hi, y2.hi) + ey);
    return beyond(gapX * gapX + gapY * gapY, reach(t.cap, end));
}

// The first tick offset at which a catch can be affordable, 0 when there is none: groups of
// blocks, then blocks, then ticks.
std::int32_t CatchBound::firstCatch(const Target& t) const {
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const std::int32_t groupFirst = 1 + static_cast<std::int32_t>(g) * kGroupTicks;
        const std::int32_t groupEnd = std::min(last_, groupFirst + kGroupTicks - 1);
        if (ruledOut(groups_[g], groupFirst, groupEnd, t))
            continue;
        for (std::int32_t first = groupFirst; first <= groupEnd; first += kBlockTicks) {
            const std::int32_t end = std::min(last_, first + kBlockTicks - 1);
            if (ruledOut(blocks_[static_cast<std::size_t>((first - 1) / kBlockTicks)], first, end,
                         t))
                continue;
            for (std::int32_t n = first; n <= end; ++n) {
                if (!beyond(gap(t, n), reach(t.cap, n)))
                    return n;
            }
        }
    }
    return 0;
}

float CatchBound::scoreBound(const CloudState& cloud, float reserve) const {
    const Target t = targetOf(cloud, reserve);
    switch (t.kind) {
        case Target::Zero:
            return 0.0f;
        case Target::Unknown:
            return kNoBound;
        case Target::FromStart:
            return static_cast<float>(t.mass);
        case Target::Bounded:
            break;
    }
    // gain <= mass and duration >= the first catch, so gain / duration <= mass / first; float
    // rounding keeps the order.
    const std::int32_t first = firstCatch(t);
    return first == 0 ? 0.0f : static_cast<float>(t.mass / first);
}

float CatchBound::refinedBound(const CloudState& cloud, float reserve, float floor) const {
    const Target t = targetOf(cloud, reserve);
    if (t.kind != Target::Bounded)
        return scoreBound(cloud, reserve);
    const std::int32_t first = firstCatch(t);
    if (first == 0)
        return 0.0f;
    // A catch at offset n gains float(mass - cost) <= mass - cost + mass x 1e-7, with the cost at
    // least r (d - r) / chaseShiftSum(n) (less a relative 1e-6 for its roundings) for the least
    // distance d. From offset n on nothing gains more per tick than mass / n: the pass stops
    // where that is no more than the best so far or the floor.
    const double top = t.mass * (1.0 + 1e-7);
    double best = 0.0;
    std::int32_t n = first;
    for (; n <= last_ && top / n > std::max(best, double(floor)); ++n) {
        const double d = std::sqrt(gap(t, n)) * kDistanceFloor;
        const double cost = windCostForShift(radius_, d - radius_, chaseShiftSum(n)) * (1.0 - 1e-6);
        if (cost > t.cap)
            continue;  // not affordable (cost is below the planner's)
        best = std::max(best, (top - cost) / n);
    }
    if (n <= last_)
        best = std::max(best, top / n);  // what the ticks not examined could reach
    return std::min(static_cast<float>(best * (1.0 + 1e-12)), static_cast<float>(t.mass / first));
}

}  // namespace nimbus
