#pragma once
// The WIND command: "WIND %f %f\n" with both components printed as doubles.
#include <string>

namespace nimbus {

// Formats the command whole, however long its numbers are.
std::string formatWind(float windX, float windY);

}  // namespace nimbus
