#include "bot/physics/trajectory.hpp"

#include "bot/physics/motion.hpp"

namespace nimbus {

Trajectory::Trajectory(std::int32_t capacity_) : capacity(capacity_), states(capacity_) {}

std::int32_t Trajectory::advance(std::int32_t slot, std::int32_t n) {
    std::int32_t s = slotOf(slot);
    if (n > capacity)
        n = capacity;
    if (n <= 1) {
        lastIndex = s;
        return 0;
    }
    // The mass never changes along a path: the walls are the same for every tick.
    CloudState c = states[s];
    const WallBounds walls(c.mass);
    CloudState* const slots = states.data();
    for (std::int32_t i = 1; i < n; ++i) {
        s = s + 1 == capacity ? 0 : s + 1;
        walls.move(c);
        slots[s] = c;
    }
    lastIndex = s;
    return n - 1;
}

std::int32_t Trajectory::predict(std::int32_t tick, std::int32_t n, CloudState start) {
    if (n > capacity)
        n = capacity;
    std::int32_t s = slotOf(tick);
    if (!sameState(states[s], start)) {
        states[s] = start;
        return advance(s, n);
    }
    if (s == lastIndex)
        return advance(s, n);
    while (n > 0) {
        s = s + 1 == capacity ? 0 : s + 1;
        --n;
        if (s == lastIndex)
            return advance(lastIndex, n);
    }
    return advance(s, 0);
}

}  // namespace nimbus
