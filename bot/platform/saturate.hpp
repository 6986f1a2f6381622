#pragma once
// Float-to-int conversion without undefined behaviour.
#include <cstdint>
#include <limits>

namespace nimbus::platform {

// Truncates v toward zero to int32. NaN gives 0; values beyond the int32 range give the
// nearest bound. Every truncation of a computed tick or clock reading goes through here.
constexpr std::int32_t saturateToInt32(double v) {
    if (v != v)
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace nimbus::platform
