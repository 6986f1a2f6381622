#include "bot/physics/numeric.hpp"

#include <cmath>

namespace nimbus {

float floatSqrt(float v) {
    return static_cast<float>(std::sqrt(static_cast<double>(v)));
}

double intPower(double x, std::int32_t n) {
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

float lineOffset(float dx, float dy, float px, float py) {
    const float len = floatSqrt(static_cast<float>(double(dx) * dx + double(dy) * dy));
    if (len < 0.00001)
        return 1e10f;
    return static_cast<float>((double(px) * dy - double(py) * dx) / len);
}

}  // namespace nimbus
