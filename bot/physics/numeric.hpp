#pragma once
// Small numeric helpers shared by the motion model and the planners.
#include <cstdint>

namespace nimbus {

// Square root of v, rounded to a 32-bit float.
float floatSqrt(float v);

// x to the power n by repeated squaring; n = 0 gives 1, a negative n gives 1 / x^|n|.
double intPower(double x, std::int32_t n);

// Signed distance of point (px, py) from the line through the origin along (dx, dy);
// positive on the clockwise side (y up). 1e10 when the direction is shorter than 0.00001.
float lineOffset(float dx, float dy, float px, float py);

}  // namespace nimbus
