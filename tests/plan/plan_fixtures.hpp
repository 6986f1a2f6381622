#pragma once
// Helpers for the planner tests: hand-made trajectories and six-digit float printing.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/planner.hpp"

namespace nimbus::testing {

// v printed as the WIND command prints it ("%f": six digits after the point).
inline std::string fixed6(float v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(v));
    return text;
}

inline CloudState still(float x, float y, float mass) {
    return CloudState{x, y, 0.0f, 0.0f, mass};
}

// A trajectory whose ticks t0, t0 + 1, ... hold the given states, the last one in lastIndex.
inline Trajectory handTrack(std::int32_t t0, const std::vector<CloudState>& states,
                            std::int32_t capacity = 1000) {
    Trajectory track(capacity);
    for (std::size_t k = 0; k < states.size(); ++k) {
        track.states[track.slotOf(t0 + static_cast<std::int32_t>(k))] = states[k];
    }
    track.lastIndex = track.slotOf(t0 + static_cast<std::int32_t>(states.size()) - 1);
    return track;
}

// count copies of one state.
inline std::vector<CloudState> repeated(const CloudState& c, std::size_t count) {
    return std::vector<CloudState>(count, c);
}

// The own path as the control loop predicts it: kOwnPathTicks ticks from the snapshot.
inline Trajectory ownTrack(const WorldSnapshot& snapshot) {
    Trajectory track(kOwnPathCapacity);
    track.predict(snapshot.tick, kOwnPathTicks, snapshot.own);
    return track;
}

// A snapshot at tick with only the own cloud.
inline WorldSnapshot snapshotAt(std::int32_t tick, const CloudState& own) {
    WorldSnapshot snapshot;
    snapshot.tick = tick;
    snapshot.own = own;
    return snapshot;
}

}  // namespace nimbus::testing
