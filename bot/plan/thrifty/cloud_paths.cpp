#include "bot/plan/thrifty/cloud_paths.hpp"

#include <algorithm>
#include <cmath>

#include "bot/physics/motion.hpp"
#include "bot/physics/swallow.hpp"

namespace nimbus {

void CloudPaths::predict(const WorldSnapshot& snapshot, std::int32_t horizon,
                         std::int32_t maxClouds, bool swallows) {
    horizon_ = horizon < 0 ? 0 : horizon;
    stride_ = static_cast<std::size_t>(horizon_) + 1;
    blocks_ = static_cast<std::size_t>(horizon_ + kBlockTicks - 1) / kBlockTicks;
    // The clouds followed: all of them, or the nearest when there are too many.
    struct Pick {
        double distance;
        const CloudState* cloud;
        bool rival;
    };
    std::vector<Pick> picks;
    const auto add = [&](const CloudState& c, bool rival) {
        const double dx = double(c.x) - snapshot.own.x;
        const double dy = double(c.y) - snapshot.own.y;
        const double q = dx * dx + dy * dy;
        picks.push_back({q == q ? q : 1e300, &c, rival});
    };
    for (const CloudState& c : snapshot.rainclouds)
        add(c, false);
    for (const CloudState& c : snapshot.rivals)
        add(c, true);
    if (static_cast<std::int32_t>(picks.size()) > maxClouds) {
        std::nth_element(picks.begin(), picks.begin() + maxClouds, picks.end(),
                         [](const Pick& a, const Pick& b) { return a.distance < b.distance; });
        picks.resize(static_cast<std::size_t>(std::max(maxClouds, 0)));
    }
    count_ = static_cast<std::int32_t>(picks.size());
    rival_.resize(picks.size());
    states_.resize(static_cast<std::size_t>(count_) * stride_);
    for (std::vector<float>* side : {&minX_, &maxX_, &minY_, &maxY_, &firstMass_})
        side->resize(static_cast<std::size_t>(count_) * blocks_);
    starts_.clear();
    heaviest_ = 0.0f;
    for (std::size_t i = 0; i < picks.size(); ++i) {
        rival_[i] = picks[i].rival ? 1 : 0;
        starts_.push_back(*picks[i].cloud);
        heaviest_ = std::max(heaviest_, picks[i].cloud->mass);
    }
    if (swallows)
        followTogether();
    else
        followAlone();
}

void CloudPaths::storeTick(std::int32_t k) {
    for (std::size_t c = 0; c < now_.size(); ++c)
        states_[c * stride_ + static_cast<std::size_t>(k)] = now_[c];
    if (startsBlock(k)) {
        const std::size_t first = boxIndex(0, blockOf(k));
        for (std::size_t c = 0; c < now_.size(); ++c) {
            const CloudState& s = now_[c];
            minX_[first + c] = maxX_[first + c] = s.x;
            minY_[first + c] = maxY_[first + c] = s.y;
            firstMass_[first + c] = s.mass;
        }
        turned_.assign(now_.size(), 0);  // what happened before the block's first tick is in it
    }
    if (k == horizon_ || startsBlock(k + 1))
        closeBoxes(k);
}

void CloudPaths::closeBoxes(std::int32_t k) {
    const std::int32_t b = blockOf(k);
    const std::int32_t k0 = b * kBlockTicks + 1;
    for (std::size_t c = 0; c < now_.size(); ++c) {
        const std::size_t i = boxIndex(static_cast<std::int32_t>(c), b);
        const CloudState& last = now_[c];
        // Damping alone never turns a velocity round, nor does a float sum of the position and a
        // velocity step move it back: without a bounce or a swallow in the block, each coordinate
        // only grows or only shrinks over it, from one finite value to the other.
        if (!turned_[c] && std::isfinite(minX_[i]) && std::isfinite(minY_[i]) &&
            std::isfinite(last.x) && std::isfinite(last.y)) {
            minX_[i] = std::min(minX_[i], last.x);
            maxX_[i] = std::max(maxX_[i], last.x);
            minY_[i] = std::min(minY_[i], last.y);
            maxY_[i] = std::max(maxY_[i], last.y);
            continue;
        }
        for (std::int32_t t = k0 + 1; t <= k; ++t) {
            const CloudState& s = states_[c * stride_ + static_cast<std::size_t>(t)];
            minX_[i] = std::min(minX_[i], s.x);
            maxX_[i] = std::max(maxX_[i], s.x);
            minY_[i] = std::min(minY_[i], s.y);
            maxY_[i] = std::max(maxY_[i], s.y);
        }
    }
}

void CloudPaths::markNear(std::int32_t b, float x, float y, double reach,
                          std::vector<char>& near) const {
    near.assign((static_cast<std::size_t>(count_) + 7) / 8 * 8, 0);
    // One unit more than the reach covers the rounding of the float sums (a few thousandths at
    // most for coordinates of the arena's size), so that no cloud the exact test in doubles would
    // let through is left out. A NaN position or reach marks none, as the exact test would.
    const float r = static_cast<float>(reach) + 1.0f;
    const float left = x - r;
    const float right = x + r;
    const float bottom = y - r;
    const float top = y + r;
    const std::size_t first = boxIndex(0, b);
    const float* minX = minX_.data() + first;  // data(), not [first]: there may be no cloud
    const float* maxX = maxX_.data() + first;
    const float* minY = minY_.data() + first;
    const float* maxY = maxY_.data() + first;
    char* out = near.data();
    const auto n = static_cast<std::size_t>(count_);
    for (std::size_t c = 0; c < n; ++c)
        out[c] = static_cast<char>((minX[c] <= right) & (maxX[c] >= left) & (minY[c] <= top) &
                                   (maxY[c] >= bottom));
}

void CloudPaths::startFollowing() {
    now_.assign(starts_.begin(), starts_.end());
    walls_.clear();
    for (std::size_t c = 0; c < now_.size(); ++c) {
        states_[c * stride_] = now_[c];
        walls_.emplace_back(now_[c].mass);
    }
    turned_.assign(now_.size(), 0);
}

void CloudPaths::followAlone() {
    startFollowing();
    for (std::int32_t k = 1; k <= horizon_; ++k) {
        for (std::size_t c = 0; c < now_.size(); ++c)
            turned_[c] |= static_cast<char>(walls_[c].move(now_[c]));
        storeTick(k);
    }
}

void CloudPaths::followTogether() {
    startFollowing();
    order_.clear();
    reach_ = 0.0;
    for (std::size_t c = 0; c < now_.size(); ++c) {
        if (!(now_[c].mass > 0.0f))
            continue;  // nothing to swallow or be swallowed
        order_.push_back(static_cast<std::int32_t>(c));
        reach_ = std::max(reach_, double(walls_[c].radius));
    }
    pairsUntil_ = 0;
    for (std::int32_t k = 1; k <= horizon_; ++k) {
        moveByX();
        if (k > pairsUntil_)
            findPairs(k);
        while (anyTouch() && swallow())
            findPairs(k);  // the taker is heavier, larger, slower or faster now
        storeTick(k);
    }
}

void CloudPaths::moveByX() {
    // Moved in their order by x of the tick before, each put in its place among those moved
    // before it: the same order as sortByX() after moving them all.
    for (std::size_t i = 0; i < order_.size(); ++i) {
        const std::int32_t c = order_[i];
        CloudState& s = now_[static_cast<std::size_t>(c)];
        turned_[static_cast<std::size_t>(c)] |=
            static_cast<char>(walls_[static_cast<std::size_t>(c)].move(s));
        const float x = s.x;
        std::size_t j = i;
        for (; j > 0 && now_[static_cast<std::size_t>(order_[j - 1])].x > x; --j)
            order_[j] = order_[j - 1];
        order_[j] = c;
    }
}

void CloudPaths::sortByX() {
    // An insertion sort: from one tick to the next the order is nearly right.
    for (std::size_t i = 1; i < order_.size(); ++i) {
        const std::int32_t c = order_[i];
        const float x = now_[static_cast<std::size_t>(c)].x;
        std::size_t j = i;
        for (; j > 0 && now_[static_cast<std::size_t>(order_[j - 1])].x > x; --j)
            order_[j] = order_[j - 1];
        order_[j] = c;
    }
}

void CloudPaths::findPairs(std::int32_t k) {
    // Over the next ticks each cloud stays within a box about its place now: per tick its
    // position moves by at most a tenth of its speed (rounded up, with a margin for the rounding
    // of the sums), as damping and bounces only slow it, and a cloud beyond its walls (one that
    // has just grown) is put back on them. Two clouds touch only within the larger radius of
    // the two: the pairs whose boxes come that close are the only ones to look at.
    pairsUntil_ = std::min(horizon_, k + kPairTicks - 1);
    pairs_.clear();
    pairsAll_ = false;
    const double ticks = pairsUntil_ - k;
    reachX_.resize(now_.size());
    reachY_.resize(now_.size());
    double widest = 0.0;
    for (const std::int32_t c : order_) {
        const CloudState& s = now_[static_cast<std::size_t>(c)];
        const WallBounds& w = walls_[static_cast<std::size_t>(c)];
        // Beyond the arena's size the margins below no longer cover the rounding: look at all.
        if (!(std::fabs(s.x) < kFar && std::fabs(s.y) < kFar && std::fabs(s.vx) < kFar &&
              std::fabs(s.vy) < kFar && w.radius < kFar)) {
            pairsAll_ = true;
            return;
        }
        const double outX = std::max(0.0, double(w.radius) - s.x) + std::max(0.0, s.x - w.right);
        const double outY = std::max(0.0, double(w.radius) - s.y) + std::max(0.0, s.y - w.top);
        const auto i = static_cast<std::size_t>(c);
        reachX_[i] = ticks * (kStepBound * std::fabs(s.vx) + kRounding) + outX + kRounding;
        reachY_[i] = ticks * (kStepBound * std::fabs(s.vy) + kRounding) + outY + kRounding;
        widest = std::max(widest, reachX_[i]);
    }
    for (std::size_t i = 0; i < order_.size(); ++i) {
        const auto a = static_cast<std::size_t>(order_[i]);
        const double window = reachX_[a] + widest + reach_;
        for (std::size_t j = i + 1; j < order_.size(); ++j) {
            const auto b = static_cast<std::size_t>(order_[j]);
            const double dx = double(now_[b].x) - now_[a].x;
            if (!(dx < window))
                break;  // every later cloud is further in x
            const double r = std::max(walls_[a].radius, walls_[b].radius);
            const double dy = double(now_[b].y) - now_[a].y;
            if (dx < reachX_[a] + reachX_[b] + r && std::fabs(dy) < reachY_[a] + reachY_[b] + r)
                pairs_.push_back({static_cast<std::int32_t>(a), static_cast<std::int32_t>(b)});
        }
    }
}

bool CloudPaths::anyTouch() const {
    if (pairsAll_)
        return true;  // swallow() looks at every pair
    for (const auto& [a, b] : pairs_) {
        const CloudState& p = now_[static_cast<std::size_t>(a)];
        const CloudState& q = now_[static_cast<std::size_t>(b)];
        const double dx = double(q.x) - p.x;
        const double dy = double(q.y) - p.y;
        const double r = std::max(walls_[static_cast<std::size_t>(a)].radius,
                                  walls_[static_cast<std::size_t>(b)].radius);
        if (dx * dx + dy * dy < double(r) * r)
            return true;
    }
    return false;
}

bool CloudPaths::swallow() {
    sortByX();
    for (std::size_t i = 0; i < order_.size(); ++i) {
        const auto ia = static_cast<std::size_t>(order_[i]);
        for (std::size_t j = i + 1; j < order_.size(); ++j) {
            const auto ib = static_cast<std::size_t>(order_[j]);
            const double dx = double(now_[ib].x) - now_[ia].x;
            if (!(dx < reach_))
                break;  // every later cloud is further in x than the largest radius
            // Neither reaches the other's centre unless the larger radius does, and no radius
            // is larger than reach_.
            const double dy = double(now_[ib].y) - now_[ia].y;
            if (!(std::fabs(dy) < reach_))
                continue;
            const double r = std::max(walls_[ia].radius, walls_[ib].radius);
            if (!(dx * dx + dy * dy < double(r) * r))
                continue;
            const bool aEats = reachesWithRadius(now_[ia], walls_[ia].radius, now_[ib]);
            if (aEats || reachesWithRadius(now_[ib], walls_[ib].radius, now_[ia])) {
                join(aEats ? ia : ib, aEats ? ib : ia);
                order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(aEats ? j : i));
                return true;
            }
        }
    }
    return false;
}

void CloudPaths::join(std::size_t big, std::size_t small) {
    merge(now_[big], now_[small]);
    turned_[big] = 1;
    now_[small].mass = 0.0f;
    heaviest_ = std::max(heaviest_, now_[big].mass);
    walls_[big] = WallBounds(now_[big].mass);
    reach_ = std::max(reach_, double(walls_[big].radius));
}

}  // namespace nimbus
