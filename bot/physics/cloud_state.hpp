#pragma once
// One cloud as the server reports it: position, velocity and mass, in protocol order.

namespace nimbus {

inline constexpr double kArenaWidth = 1280.0;
inline constexpr double kArenaHeight = 720.0;

struct CloudState {
    float x = 0.0f;
    float y = 0.0f;
    float vx = 0.0f;
    float vy = 0.0f;
    float mass = 0.0f;
};

// True when all five values are equal as 32-bit floats (a NaN is never equal).
constexpr bool sameState(const CloudState& a, const CloudState& b) {
    return a.x == b.x && a.y == b.y && a.vx == b.vx && a.vy == b.vy && a.mass == b.mass;
}

}  // namespace nimbus
