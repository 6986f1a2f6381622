#include "bot/physics/motion.hpp"

#include "bot/physics/numeric.hpp"

namespace nimbus {

bool bounceOffWalls(float& x, float& y, float& vx, float& vy, float mass) {
    const float r = floatSqrt(mass);
    bool bounced = false;
    if (x < r) {
        x = r;
        vx = static_cast<float>(vx * kBounce);
        bounced = true;
    } else if (x > kArenaWidth - r) {
        x = static_cast<float>(kArenaWidth - r);
        vx = static_cast<float>(vx * kBounce);
        bounced = true;
    }
    if (y < r) {
        y = r;
        vy = static_cast<float>(vy * kBounce);
        bounced = true;
    } else if (y > kArenaHeight - r) {
        y = static_cast<float>(kArenaHeight - r);
        vy = static_cast<float>(vy * kBounce);
        bounced = true;
    }
    return bounced;
}

void moveOneTick(CloudState& c) {
    // Plain 32-bit arithmetic: each product and sum is rounded to float.
    const float dx = c.vx * kMotionStep;
    const float dy = c.vy * kMotionStep;
    c.x = c.x + dx;
    c.y = c.y + dy;
    c.vx = c.vx * kDamping;
    c.vy = c.vy * kDamping;
    bounceOffWalls(c.x, c.y, c.vx, c.vy, c.mass);
}

}  // namespace nimbus
