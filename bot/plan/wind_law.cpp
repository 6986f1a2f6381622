#include "bot/plan/wind_law.hpp"

namespace nimbus {

double dampedShiftSum(std::int32_t n) {
    return (1.0 - intPower(0.999, n)) * 1000.0;
}

}  // namespace nimbus
