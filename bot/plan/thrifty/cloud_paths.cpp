#include "bot/plan/thrifty/cloud_paths.hpp"

#include <algorithm>

#include "bot/physics/motion.hpp"

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
    boxes_.resize(static_cast<std::size_t>(count_) * blocks_);
    starts_.clear();
    for (std::size_t i = 0; i < picks.size(); ++i) {
        rival_[i] = picks[i].rival ? 1 : 0;
        starts_.push_back(*picks[i].cloud);
    }
    if (swallows)
        followTogether();
    else
        followAlone();
}

void CloudPaths::addToBox(std::size_t c, std::int32_t k, const CloudState& s) {
    Box& b = boxes_[c * blocks_ + static_cast<std::size_t>(blockOf(k))];
    if ((k - 1) % kBlockTicks == 0) {
        b = {s.x, s.x, s.y, s.y};
    } else {
        b.minX = std::min(b.minX, s.x);
        b.maxX = std::max(b.maxX, s.x);
        b.minY = std::min(b.minY, s.y);
        b.maxY = std::max(b.maxY, s.y);
    }
}

void CloudPaths::followAlone() {
    for (std::size_t c = 0; c < starts_.size(); ++c) {
        const WallBounds walls(starts_[c].mass);
        CloudState s = starts_[c];
        states_[c * stride_] = s;
        for (std::int32_t k = 1; k <= horizon_; ++k) {
            walls.move(s);
            states_[c * stride_ + static_cast<std::size_t>(k)] = s;
            addToBox(c, k, s);
        }
    }
}

void CloudPaths::followTogether() {
    walls_.clear();
    order_.clear();
    reach_ = 0.0;
    for (std::size_t c = 0; c < starts_.size(); ++c) {
        states_[c * stride_] = starts_[c];
        walls_.emplace_back(starts_[c].mass);
        order_.push_back(static_cast<std::int32_t>(c));
        reach_ = std::max(reach_, double(walls_.back().radius));
    }
    for (std::int32_t k = 1; k <= horizon_; ++k) {
        for (std::size_t c = 0; c < starts_.size(); ++c) {
            CloudState s = states_[c * stride_ + static_cast<std::size_t>(k - 1)];
            if (s.mass > 0.0f)
                walls_[c].move(s);
            states_[c * stride_ + static_cast<std::size_t>(k)] = s;
            addToBox(c, k, s);  // a swallow moves no cloud
        }
        while (swallow(k)) {
        }
    }
}

void CloudPaths::sortByX(std::int32_t k) {
    // An insertion sort: from one tick to the next the order is nearly right.
    for (std::size_t i = 1; i < order_.size(); ++i) {
        const std::int32_t c = order_[i];
        const float x = at(c, k).x;
        std::size_t j = i;
        for (; j > 0 && at(order_[j - 1], k).x > x; --j)
            order_[j] = order_[j - 1];
        order_[j] = c;
    }
}

bool CloudPaths::swallow(std::int32_t k) {
    sortByX(k);
    for (std::size_t i = 0; i < order_.size(); ++i) {
        for (std::size_t j = i + 1; j < order_.size(); ++j) {
            const CloudState& a = at(order_[i], k);
            const CloudState& b = at(order_[j], k);
            if (!(double(b.x) - a.x < reach_))
                break;  // every later cloud is further in x than the largest radius
            if (a.mass == b.mass || !(a.mass > 0.0f) || !(b.mass > 0.0f))
                continue;
            const std::int32_t big = a.mass > b.mass ? order_[i] : order_[j];
            const std::int32_t small = big == order_[i] ? order_[j] : order_[i];
            const double r = walls_[static_cast<std::size_t>(big)].radius;
            const double dx = double(at(small, k).x) - at(big, k).x;
            const double dy = double(at(small, k).y) - at(big, k).y;
            if (dx * dx + dy * dy < r * r) {
                join(big, small, k);
                return true;
            }
        }
    }
    return false;
}

void CloudPaths::join(std::int32_t big, std::int32_t small, std::int32_t k) {
    CloudState& b = mutableAt(big, k);
    CloudState& s = mutableAt(small, k);
    const double m = double(b.mass) + s.mass;
    b.vx = static_cast<float>((double(b.mass) * b.vx + double(s.mass) * s.vx) / m);
    b.vy = static_cast<float>((double(b.mass) * b.vy + double(s.mass) * s.vy) / m);
    b.mass = static_cast<float>(m);
    s.mass = 0.0f;
    walls_[static_cast<std::size_t>(big)] = WallBounds(b.mass);
    reach_ = std::max(reach_, double(walls_[static_cast<std::size_t>(big)].radius));
}

}  // namespace nimbus
