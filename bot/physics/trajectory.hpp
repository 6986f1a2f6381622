#pragma once
// Ring buffer of predicted states, one per tick: the state for tick t lives in slot t mod capacity.
// A repeated prediction from an unchanged start state reuses the ticks already computed.
#include <cstdint>
#include <vector>

#include "bot/physics/cloud_state.hpp"

namespace nimbus {

// The tick offset ticks after tick. Wraps at the int32 range instead of overflowing, so that a
// tick near the bound cannot make the slot arithmetic undefined.
constexpr std::int32_t tickAfter(std::int32_t tick, std::int32_t offset) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(tick) +
                                     static_cast<std::uint32_t>(offset));
}

class Trajectory {
  public:
    // capacity slots (at least 1), all newly made states (mass 0); lastIndex 0.
    explicit Trajectory(std::int32_t capacity);

    // Makes the slots of ticks tick .. tick + n - 1 hold the predicted path from start (n is cut
    // to the capacity). Reuses the stored prediction when the start slot already holds start.
    // Returns the number of states computed.
    std::int32_t predict(std::int32_t tick, std::int32_t n, CloudState start);

    // Integrates forward from the state in slot s, writing n - 1 new states (n cut to the
    // capacity), and points lastIndex at the last slot written. Returns the count written.
    std::int32_t advance(std::int32_t slot, std::int32_t n);

    // The state in the slot of tick (no range test; negative ticks wrap like positive ones).
    const CloudState& stateAt(std::int32_t tick) const { return states[slotOf(tick)]; }

    // Non-negative slot index of a tick.
    std::int32_t slotOf(std::int32_t tick) const {
        const std::int32_t s = tick % capacity;
        return s < 0 ? s + capacity : s;
    }

    std::int32_t capacity;
    std::int32_t lastIndex = 0;
    std::vector<CloudState> states;
};

}  // namespace nimbus
