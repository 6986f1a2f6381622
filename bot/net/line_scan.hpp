#pragma once
// Number scanning for state lines, with the semantics of sscanf's "%d" and "%f %f ...":
// leading white space is skipped, conversion stops at the first value that does not parse,
// and a target whose value is not supplied keeps what it held. Unlike sscanf, an integer out
// of the int32 range saturates instead of being undefined.
#include <cstdint>

namespace nimbus {

// Scans one integer into *target. Returns the number of values converted (0 or 1).
int scanInt(const char* text, std::int32_t* target);

// Scans up to count floats into targets[0..count-1]. Returns the number converted.
int scanFloats(const char* text, float* const* targets, int count);

}  // namespace nimbus
