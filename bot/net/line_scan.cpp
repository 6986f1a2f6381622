#include "bot/net/line_scan.hpp"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace nimbus {

int scanInt(const char* text, std::int32_t* target) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text)
        return 0;
    if (v > std::numeric_limits<std::int32_t>::max()) {
        *target = std::numeric_limits<std::int32_t>::max();
    } else if (v < std::numeric_limits<std::int32_t>::min()) {
        *target = std::numeric_limits<std::int32_t>::min();
    } else {
        *target = static_cast<std::int32_t>(v);
    }
    return 1;
}

int scanFloats(const char* text, float* const* targets, int count) {
    const char* p = text;
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        const float v = std::strtof(p, &end);
        if (end == p)
            return i;
        *targets[i] = v;
        p = end;
    }
    return count;
}

}  // namespace nimbus
