#pragma once
// The wind law solved for the planners. A wind of strength k blown at one tick changes a cloud's
// velocity by 5 k / sqrt(mass); with the motion model (position += 0.1 x velocity, velocity x
// 0.999 per tick) that moves the cloud k x 500 x (1 - 0.999^n) / sqrt(mass) further in n ticks.
#include <array>
#include <cstdint>

#include "bot/physics/numeric.hpp"

namespace nimbus {

namespace detail {

inline constexpr std::int32_t kChaseShiftTableSize = 1024;

// (1 - 0.999^n) x 500 for n = 0 .. 1023, computed once, at compile time, with intPower.
constexpr std::array<double, kChaseShiftTableSize> makeChaseShiftTable() {
    std::array<double, kChaseShiftTableSize> table{};
    for (std::int32_t n = 0; n < kChaseShiftTableSize; ++n)
        table[static_cast<std::size_t>(n)] = (1.0 - intPower(0.999, n)) * 500.0;
    return table;
}

inline constexpr std::array<double, kChaseShiftTableSize> kChaseShiftTable = makeChaseShiftTable();

}  // namespace detail

// (1 - 0.999^n) x 500 with 0.999^n = intPower(0.999, n): the shift per unit of r x cost in n
// ticks. From a table for 0 <= n < 1024, the same values as computed directly.
inline double chaseShiftSum(std::int32_t n) {
    if (n >= 0 && n < detail::kChaseShiftTableSize)
        return detail::kChaseShiftTable[static_cast<std::size_t>(n)];
    return (1.0 - intPower(0.999, n)) * 500.0;
}

// Mass cost of the puff that brings a target centre `distance` away onto the rim of a cloud of
// the given radius within n ticks: float(r (d - r) / ((1 - 0.999^n) x 500)); 0 when d <= r.
inline float chaseWindCost(float radius, float distance, std::int32_t n) {
    if (!(distance > radius))
        return 0.0f;
    const double r = radius;
    return static_cast<float>(r * (distance - r) / chaseShiftSum(n));
}

// Shift of a cloud after n ticks per unit of velocity-change rate: (1 - 0.999^n) x 1000.
double dampedShiftSum(std::int32_t n);

}  // namespace nimbus
