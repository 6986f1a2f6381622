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
    const std::size_t first = boxIndex(0, blockOf(k));
    const bool starts = startsBlock(k);
    for (std::size_t c = 0; c < now_.size(); ++c) {
        const CloudState& s = now_[c];
        states_[c * stride_ + static_cast<std::size_t>(k)] = s;
        const std::size_t i = first + c;
        if (starts) {
            minX_[i] = maxX_[i] = s.x;
            minY_[i] = maxY_[i] = s.y;
            firstMass_[i] = s.mass;
        } else {
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
    const float* minX = &minX_[first];
    const float* maxX = &maxX_[first];
    const float* minY = &minY_[first];
    const float* maxY = &maxY_[first];
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
}

void CloudPaths::followAlone() {
    startFollowing();
    for (std::int32_t k = 1; k <= horizon_; ++k) {
        for (std::size_t c = 0; c < now_.size(); ++c)
            walls_[c].move(now_[c]);
        storeTick(k);
    }
}

void CloudPaths::followTogether() {
    startFollowing();
    order_.clear();
    reach_ = 0.0;
    lightReach_ = 0.0;
    for (std::size_t c = 0; c < now_.size(); ++c) {
        if (!(now_[c].mass > 0.0f))
            continue;  // nothing to swallow or be swallowed
        order_.push_back(static_cast<std::int32_t>(c));
        const double radius = walls_[c].radius;
        reach_ = std::max(reach_, radius);
        if (!isRival(static_cast<std::int32_t>(c)))
            lightReach_ = std::max(lightReach_, radius);
    }
    for (std::int32_t k = 1; k <= horizon_; ++k) {
        for (std::size_t c = 0; c < now_.size(); ++c) {
            if (now_[c].mass > 0.0f)
                walls_[c].move(now_[c]);
        }
        sortByX();
        while (anyTouch() && swallow()) {
        }
        storeTick(k);
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

bool CloudPaths::anyTouch() const {
    // Two clouds touch only within the larger radius of the two. Each cloud looks ahead in x
    // as far as its own radius or the largest raincloud's, whichever is larger, and a cloud
    // larger than that also looks back as far as its radius: every pair is looked at within its
    // larger radius, most clouds look only at their few neighbours. A cloud whose x is NaN ends
    // the looking, as it ends swallow()'s.
    const auto touch = [&](std::size_t a, std::size_t b, double dx, double window) {
        const double dy = double(now_[b].y) - now_[a].y;
        if (!(std::fabs(dy) < window))
            return false;
        const double r = std::max(walls_[a].radius, walls_[b].radius);
        return dx * dx + dy * dy < double(r) * r;
    };
    for (std::size_t i = 0; i < order_.size(); ++i) {
        const auto a = static_cast<std::size_t>(order_[i]);
        const double radius = walls_[a].radius;
        const double window = std::max(radius, lightReach_);
        for (std::size_t j = i + 1; j < order_.size(); ++j) {
            const auto b = static_cast<std::size_t>(order_[j]);
            const double dx = double(now_[b].x) - now_[a].x;
            if (!(dx < window))
                break;
            if (touch(a, b, dx, window))
                return true;
        }
        if (!(radius > lightReach_))
            continue;
        for (std::size_t j = i; j-- > 0;) {
            const auto b = static_cast<std::size_t>(order_[j]);
            const double dx = double(now_[a].x) - now_[b].x;
            if (!(dx < radius))
                break;
            if (touch(a, b, dx, radius))
                return true;
        }
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
    now_[small].mass = 0.0f;
    heaviest_ = std::max(heaviest_, now_[big].mass);
    walls_[big] = WallBounds(now_[big].mass);
    reach_ = std::max(reach_, double(walls_[big].radius));
}

}  // namespace nimbus
