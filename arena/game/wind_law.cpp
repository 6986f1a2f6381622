#include "arena/game/wind_law.hpp"

#include <cmath>

namespace nimbus::arena {

float windStrength(float wx, float wy) {
    const double x = wx;
    const double y = wy;
    return static_cast<float>(std::sqrt(x * x + y * y));
}

WindVerdict checkWind(float mass, float wx, float wy) {
    if (!std::isfinite(wx) || !std::isfinite(wy)) {
        return {false, "wind not finite"};
    }
    const float s = windStrength(wx, wy);
    if (!std::isfinite(s)) {
        return {false, "wind not finite"};
    }
    if (static_cast<double>(s) > static_cast<double>(mass) * kMaxWindShare) {
        return {false, "wind over half the mass"};
    }
    return {true, {}};
}

WindVerdict applyWind(CloudState& c, float wx, float wy) {
    WindVerdict verdict = checkWind(c.mass, wx, wy);
    if (!verdict.accepted || (wx == 0.0f && wy == 0.0f)) {
        return verdict;  // a calm wind costs nothing and changes nothing
    }
    const double root = std::sqrt(static_cast<double>(c.mass));
    c.vx = static_cast<float>(c.vx + wx * kWindPush / root);
    c.vy = static_cast<float>(c.vy + wy * kWindPush / root);
    c.mass = static_cast<float>(c.mass - static_cast<double>(windStrength(wx, wy)));
    return verdict;
}

}  // namespace nimbus::arena
