#include "bot/plan/wind_law.hpp"

#include "bot/physics/numeric.hpp"

namespace nimbus {

float chaseWindCost(float radius, float distance, std::int32_t n) {
    if (!(distance > radius))
        return 0.0f;
    const double r = radius;
    return static_cast<float>(r * (distance - r) / ((1.0 - intPower(0.999, n)) * 500.0));
}

double dampedShiftSum(std::int32_t n) {
    return (1.0 - intPower(0.999, n)) * 1000.0;
}

}  // namespace nimbus
