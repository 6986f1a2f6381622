#pragma once
// The wind law solved for the planners. A wind of strength k blown at one tick changes a cloud's
// velocity by 5 k / sqrt(mass); with the motion model (position += 0.1 x velocity, velocity x
// 0.999 per tick) that moves the cloud k x 500 x (1 - 0.999^n) / sqrt(mass) further in n ticks.
#include <cstdint>

namespace nimbus {

// Mass cost of the puff that brings a target centre `distance` away onto the rim of a cloud of
// the given radius within n ticks: float(r (d - r) / ((1 - 0.999^n) x 500)); 0 when d <= r.
float chaseWindCost(float radius, float distance, std::int32_t n);

// Shift of a cloud after n ticks per unit of velocity-change rate: (1 - 0.999^n) x 1000.
double dampedShiftSum(std::int32_t n);

}  // namespace nimbus
