#include "bot/plan/thrifty/escape_wind.hpp"

#include <cmath>
#include <numbers>

#include "bot/plan/thrifty/path_sim.hpp"

namespace nimbus {

namespace {

constexpr int kDirections = 16;
constexpr double kFirstStrength = 1.0;
constexpr double kStrengthStep = 1.5;

}  // namespace

std::optional<Wind> escapeWind(const CloudPaths& paths, const CloudState& start, std::int32_t k0,
                               std::int32_t danger, const EscapeRules& rules) {
    PathSimulator sim(paths);
    sim.rivalDangerMargin = rules.rivalMargin;
    // Only the clouds that can be heavier than the own cloud once it has paid for the wind.
    for (std::int32_t c = 0; c < paths.clouds(); ++c) {
        if (paths.at(c, 0).mass > start.mass - rules.most)
            sim.only.push_back(c);
    }
    const std::int32_t until = k0 + rules.ticks + 1;
    std::optional<Wind> latest;
    for (double k = kFirstStrength; k <= rules.most; k *= kStrengthStep) {
        for (int d = 0; d < kDirections; ++d) {
            const double angle = d * (2.0 * std::numbers::pi / kDirections);
            const Wind wind{static_cast<float>(k * std::cos(angle)),
                            static_cast<float>(k * std::sin(angle))};
            const PathOutcome out =
                sim.run(start, k0, wind.x, wind.y, until, rules.rainMargin, false);
            if (out.danger < 0 || out.danger - k0 > rules.ticks)
                return wind;
            if (out.danger > danger) {
                danger = out.danger;
                latest = wind;
            }
        }
    }
    return latest;
}

}  // namespace nimbus
