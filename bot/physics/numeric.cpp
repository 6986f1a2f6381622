#include "bot/physics/numeric.hpp"

#include <cmath>

namespace nimbus {

float lineOffset(float dx, float dy, float px, float py) {
    const float len = floatSqrt(static_cast<float>(double(dx) * dx + double(dy) * dy));
    if (len < 0.00001)
        return 1e10f;
    return static_cast<float>((double(px) * dy - double(py) * dx) / len);
}

}  // namespace nimbus
