#pragma once
// The tick schedule without drift: tick k is due at start + k x period, however late the timer
// fires; a timer that fires late finds several ticks due and runs them all (catch-up).
#include <chrono>
#include <cstdint>

namespace nimbus::arena {

// How many ticks are due once `elapsed` has passed since the start (0 before the start).
constexpr std::int64_t ticksDue(std::chrono::nanoseconds elapsed,
                                std::chrono::milliseconds period) {
    if (elapsed.count() < 0 || period.count() <= 0) {
        return 0;
    }
    return elapsed / period;
}

// When tick k is due, as an offset from the start.
constexpr std::chrono::nanoseconds tickDueAt(std::int64_t k, std::chrono::milliseconds period) {
    return period * k;
}

}  // namespace nimbus::arena
