#pragma once
// Small numeric helpers shared by the motion model and the planners.
#include <cmath>
#include <cstdint>

namespace nimbus {

// Square root of v, rounded to a 32-bit float.
inline float floatSqrt(float v) {
    return static_cast<float>(std::sqrt(static_cast<double>(v)));
}

// x to the power n by repeated squaring; n = 0 gives 1, a negative n gives 1 / x^|n|.
// Usable in constant expressions, with the same double roundings as at run time.
constexpr double intPower(double x, std::int32_t n) {
    // |n| as unsigned so that the most negative int32 has a magnitude too.
    std::uint32_t m = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    double result = 1.0;
    double base = x;
    for (;;) {
        if (m & 1u)
            result *= base;
        m >>= 1;
        if (m == 0)
            break;
        base *= base;
    }
    return n < 0 ? 1.0 / result : result;
}

// Signed distance of point (px, py) from the line through the origin along (dx, dy);
// positive on the clockwise side (y up). 1e10 when the direction is shorter than 0.00001.
float lineOffset(float dx, float dy, float px, float py);

}  // namespace nimbus
