#pragma once
// The motion model that the bot predicts with and the arena simulates with: per tick,
// position += 0.1 x velocity, velocity x 0.999, then a bounce off the 1280 x 720 walls. The wind
// law is wind_law.hpp.
#include "bot/physics/cloud_state.hpp"
#include "bot/physics/numeric.hpp"

namespace nimbus {

// The walls as a cloud of one mass meets them: its radius r and the far walls 1280 - r and
// 720 - r (in double, as compared) with their float values (as stored). A cloud's mass never
// changes, so a path computes these once.
struct WallBounds {
    explicit WallBounds(float mass)
        : radius(floatSqrt(mass)),
          right(kArenaWidth - radius),
          top(kArenaHeight - radius),
          rightStored(static_cast<float>(right)),
          topStored(static_cast<float>(top)) {}

    float radius;
    double right;
    double top;
    float rightStored;
    float topStored;

    // Reflects the cloud off the walls: a coordinate beyond radius of a wall is put on that line
    // and its velocity component multiplied by -0.6. Strict tests: touching is no bounce. Returns
    // true when either axis bounced.
    bool bounce(float& x, float& y, float& vx, float& vy) const {
        bool bounced = false;
        if (x < radius) {
            x = radius;
            vx = static_cast<float>(vx * -0.6);
            bounced = true;
        } else if (x > right) {
            x = rightStored;
            vx = static_cast<float>(vx * -0.6);
            bounced = true;
        }
        if (y < radius) {
            y = radius;
            vy = static_cast<float>(vy * -0.6);
            bounced = true;
        } else if (y > top) {
            y = topStored;
            vy = static_cast<float>(vy * -0.6);
            bounced = true;
        }
        return bounced;
    }

    // One tick of motion (move, damp, bounce) for a cloud of this mass, in 32-bit float
    // arithmetic: each product and sum is rounded to float. Returns true when it bounced.
    bool move(CloudState& c) const {
        constexpr float kStep = 0.1f;
        constexpr float kDamping = 0.999f;
        const float dx = c.vx * kStep;
        const float dy = c.vy * kStep;
        c.x = c.x + dx;
        c.y = c.y + dy;
        c.vx = c.vx * kDamping;
        c.vy = c.vy * kDamping;
        return bounce(c.x, c.y, c.vx, c.vy);
    }
};

// Reflects a cloud of the given mass off the walls (WallBounds::bounce). Returns true when either
// axis bounced.
inline bool bounceOffWalls(float& x, float& y, float& vx, float& vy, float mass) {
    return WallBounds(mass).bounce(x, y, vx, vy);
}

// True when a velocity component of s has the opposite sign to the reference (px, py), as after a
// wall bounce; a zero never counts.
inline bool velocityReversed(const CloudState& s, float px, float py) {
    return double(s.vx) * px < 0.0 || double(s.vy) * py < 0.0;
}

// Advances c by one tick of motion (move, damp, bounce) in 32-bit float arithmetic.
inline void moveOneTick(CloudState& c) {
    WallBounds(c.mass).move(c);
}

}  // namespace nimbus
