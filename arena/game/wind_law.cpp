#include "arena/game/wind_law.hpp"

namespace nimbus::arena {

WindVerdict checkWind(float mass, float wx, float wy) {
    switch (windFault(mass, wx, wy)) {
        case WindFault::None:
            break;
        case WindFault::NotFinite:
            return {false, "wind not finite"};
        case WindFault::OverHalfTheMass:
            return {false, "wind over half the mass"};
    }
    return {true, {}};
}

WindVerdict applyWind(CloudState& c, float wx, float wy) {
    WindVerdict verdict = checkWind(c.mass, wx, wy);
    if (verdict.accepted)
        blowWind(c, wx, wy);
    return verdict;
}

}  // namespace nimbus::arena
