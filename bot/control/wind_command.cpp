#include "bot/control/wind_command.hpp"

#include <cstdio>

namespace nimbus {

std::string formatWind(float windX, float windY) {
    const double x = windX;
    const double y = windY;
    // Short winds fit the classic 32-byte buffer; a wind with five or more digits before the
    // point gets a buffer that fits it, so that no text is ever cut.
    char small[32];
    const int length = std::snprintf(small, sizeof small, "WIND %f %f\n", x, y);
    if (length < static_cast<int>(sizeof small))
        return std::string(small, static_cast<size_t>(length));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "WIND %f %f\n", x, y);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace nimbus
