#include "bot/plan/evasion.hpp"

#include <cmath>
#include <cstdint>

#include "bot/physics/motion.hpp"
#include "bot/physics/numeric.hpp"
#include "bot/physics/wind_law.hpp"
#include "bot/platform/saturate.hpp"

namespace nimbus {

namespace {

constexpr Evasion kNoThreat{0.0f, 0.0f, 0};

// Whether the own cloud, shifted at rate w along the side vector (uy, -ux), would end the T
// ticks to the closest approach within its radius of a wall.
bool sideBlocked(const CloudState& own, float ux, float uy, float w, std::int32_t ticks) {
    const float ex = static_cast<float>(ux + double(static_cast<float>(double(w) * uy)));
    const float ey = static_cast<float>(uy - double(static_cast<float>(double(w) * ux)));
    const double t = static_cast<float>(ticks);
    float x = static_cast<float>(own.x + double(static_cast<float>(t * ex)));
    float y = static_cast<float>(own.y + double(static_cast<float>(t * ey)));
    float vx = 0.0f;
    float vy = 0.0f;
    return bounceOffWalls(x, y, vx, vy, own.mass);
}

}  // namespace

Evasion evadeCloud(const CloudState& own, const CloudState& other, std::int32_t horizon) {
    if (other.mass < own.mass)
        return kNoThreat;
    const float dx = static_cast<float>(double(own.x) - other.x);
    const float dy = static_cast<float>(double(own.y) - other.y);
    const float vx = static_cast<float>(double(other.vx) - own.vx);
    const float vy = static_cast<float>(double(other.vy) - own.vy);

    const float s = floatSqrt(static_cast<float>(double(vx) * vx + double(vy) * vy));
    const float step = static_cast<float>(s / 10.0);
    if (step < 0.00001)
        return kNoThreat;
    const float a =
        static_cast<float>(static_cast<float>(double(dx) * vx + double(dy) * vy) / double(s));
    if (a < 0.0f)
        return kNoThreat;

    // m: signed distance of the own cloud from the other's relative path.
    const float m = lineOffset(vx, vy, dx, dy);
    const float contact = static_cast<float>(double(floatSqrt(own.mass)) + floatSqrt(other.mass));
    if (m < -contact || m > contact)
        return kNoThreat;
    const std::int32_t ticks = platform::saturateToInt32(double(a) / step);
    if (ticks > std::int64_t{horizon} + 100 || ticks < 1)
        return kNoThreat;

    // Shift rate that takes the own cloud to the contact distance on its own side; the rate for
    // the other side is -W - 2 m / S, used for both switches.
    const double shift = m >= 0.0f ? double(contact) - m : -double(m) - contact;
    const double sum = dampedShiftSum(ticks);
    float w = static_cast<float>(shift / sum);
    const float ux = static_cast<float>(vx / double(s));
    const float uy = static_cast<float>(vy / double(s));
    if (sideBlocked(own, ux, uy, w, ticks)) {
        w = static_cast<float>(-double(w) - 2.0 * m / sum);
        if (sideBlocked(own, ux, uy, w, ticks))
            w = static_cast<float>(-double(w) - 2.0 * m / sum);
    }

    float k = static_cast<float>(2.0 * floatSqrt(own.mass) * w);
    if (std::fabs(k) > static_cast<float>(own.mass * 0.5)) {
        k = std::copysign(static_cast<float>(own.mass * 0.5 - 1.0), k);
    }
    return Evasion{static_cast<float>(double(uy) * k), static_cast<float>(-double(ux) * k), 1};
}

Evasion forecastCollision(const CloudState& own, const WorldSnapshot& snapshot,
                          std::int32_t horizon) {
    for (const CloudState& cloud : snapshot.rainclouds) {
        const Evasion e = evadeCloud(own, cloud, horizon);
        if (e.ticks != 0)
            return e;
    }
    for (const CloudState& cloud : snapshot.rivals) {
        const Evasion e = evadeCloud(own, cloud, horizon);
        if (e.ticks != 0)
            return e;
    }
    return kNoThreat;
}

bool anyCloudAt(const CloudState& point, const WorldSnapshot& snapshot) {
    const auto near = [&point](const CloudState& cloud) {
        const float dx = static_cast<float>(double(cloud.x) - point.x);
        const float dy = static_cast<float>(double(cloud.y) - point.y);
        return static_cast<float>(double(dx) * dx + double(dy) * dy) < 1.0f;
    };
    for (const CloudState& cloud : snapshot.rainclouds) {
        if (near(cloud))
            return true;
    }
    for (const CloudState& cloud : snapshot.rivals) {
        if (near(cloud))
            return true;
    }
    return false;
}

}  // namespace nimbus
