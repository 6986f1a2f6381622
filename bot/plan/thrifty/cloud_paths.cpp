#include "bot/plan/thrifty/cloud_paths.hpp"

#include <algorithm>

#include "bot/physics/motion.hpp"

namespace nimbus {

void CloudPaths::predict(const WorldSnapshot& snapshot, std::int32_t horizon,
                         std::int32_t maxClouds) {
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
    std::size_t at = 0;
    std::size_t boxAt = 0;
    const auto follow = [&](const CloudState& start) {
        const WallBounds walls(start.mass);
        CloudState s = start;
        states_[at++] = s;
        for (std::int32_t k = 1; k <= horizon_; ++k) {
            walls.move(s);
            states_[at++] = s;
            Box& b = boxes_[boxAt + static_cast<std::size_t>(blockOf(k))];
            if ((k - 1) % kBlockTicks == 0) {
                b = {s.x, s.x, s.y, s.y};
            } else {
                b.minX = std::min(b.minX, s.x);
                b.maxX = std::max(b.maxX, s.x);
                b.minY = std::min(b.minY, s.y);
                b.maxY = std::max(b.maxY, s.y);
            }
        }
        boxAt += blocks_;
    };
    for (std::size_t i = 0; i < picks.size(); ++i) {
        rival_[i] = picks[i].rival ? 1 : 0;
        follow(*picks[i].cloud);
    }
}

}  // namespace nimbus
