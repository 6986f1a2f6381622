#pragma once
// The motion model that the bot predicts with and the arena simulates with: per tick,
// position += 0.1 x velocity, velocity x 0.999, then a bounce off the 1280 x 720 walls.
// The wind law: a wind (wx, wy) changes a cloud's velocity by (wx, wy) x 5 / sqrt(mass).
#include "bot/physics/cloud_state.hpp"

namespace nimbus {

// Reflects a cloud of the given mass off the walls: a coordinate beyond radius of a wall is put
// on that line and its velocity component multiplied by -0.6. Strict tests: touching is no bounce.
// Returns true when either axis bounced.
bool bounceOffWalls(float& x, float& y, float& vx, float& vy, float mass);

// Advances c by one tick of motion (move, damp, bounce) in 32-bit float arithmetic.
void moveOneTick(CloudState& c);

}  // namespace nimbus
