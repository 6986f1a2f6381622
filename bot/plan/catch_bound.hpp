#pragma once
// Upper bounds on the score (gain / duration) that the chase planner can reach against a cloud,
// found without predicting the cloud's path: from the exact own path and where the cloud can be
// at each tick (its damped straight path within its rounding error until it may touch a wall,
// afterwards anywhere within the furthest it can move), the earliest tick at which a catch can be
// affordable and the least it can cost at each tick. Target selection plans the candidates with the
// best bounds first and stops when no bound left can beat the best score.
#include <cstdint>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/trajectory.hpp"

namespace nimbus {

class CatchBound {
  public:
    // For plans from tick start over the own path, against clouds whose paths are predicted from
    // tick for window ticks (at most 1000), with start in tick .. tick + window - 2 and
    // tick + window - 1 within the int32 range (the own slots of the window's ticks are then
    // consecutive).
    CatchBound(const Trajectory& own, std::int32_t tick, std::int32_t start, std::int32_t window);

    // A value that float(gain / duration) of the summary of Strategy::plan(start, own, path,
    // reserve) does not exceed, where path is the cloud's predicted path (from tick, window
    // ticks): the cloud's mass over the first tick offset at which a catch can be affordable.
    // 0 when no catch can be affordable; +infinity where it cannot tell (non-finite values, an
    // own path whose mass varies). Cheap: tests the own path in blocks of ticks.
    float scoreBound(const CloudState& cloud, float reserve) const;

    // A bound of the same kind, never above scoreBound and often well below it: the best
    // (mass - least possible cost) / n over the tick offsets n from the first possible catch on.
    // Costs up to a pass over the ticks; it is cut short, and then less tight, where it can only
    // matter that the bound is at most floor.
    float refinedBound(const CloudState& cloud, float reserve, float floor) const;

  private:
    // Bounding box of the own positions over a block of consecutive tick offsets.
    struct Block {
        double minX, maxX, minY, maxY;
        bool unknown;  // a NaN position: the block is never ruled out

        void add(double x, double y) {
            unknown = unknown || x != x || y != y;
            minX = x < minX ? x : minX;
            maxX = x > maxX ? x : maxX;
            minY = y < minY ? y : minY;
            maxY = y > maxY ? y : maxY;
        }
        void add(const Block& b) {
            unknown = unknown || b.unknown;
            add(b.minX, b.minY);
            add(b.maxX, b.maxY);
        }
    };
    // One axis of a target's motion: its start, its velocity and the last tick up to which its
    // damped straight path certainly stays clear of both walls (-1: none).
    struct Axis {
        double start, v;
        std::int32_t free;
    };
    // What the bounds need of one candidate.
    struct Target {
        enum Kind { Bounded, Zero, Unknown, FromStart } kind;  // FromStart: catch at offset 1
        double mass, cap;
        Axis x, y;
    };
    // Where a target can be on one axis after k ticks: an interval of coordinates.
    struct Span {
        double lo, hi;
    };

    Target targetOf(const CloudState& cloud, float reserve) const;
    static Axis axisOf(double start, double v, double low, double high);
    static Span span(const Axis& a, std::int32_t k);
    double gap(const Target& t, std::int32_t n) const;
    double reach(double cap, std::int32_t n) const;
    bool ruledOut(const Block& b, std::int32_t first, std::int32_t end, const Target& t) const;
    std::int32_t firstCatch(const Target& t) const;

    std::int32_t lead_;  // start - tick: ticks the cloud moves before the plan starts
    std::int32_t last_;  // offset of the last predicted tick: the planner examines fewer
    float ownMass_;
    double radius_;
    bool usable_;
    std::vector<double> ownX_, ownY_;  // own position at start + n, n = 0 .. last_
    std::vector<Block> blocks_;        // over 16 ticks from offset 1
    std::vector<Block> groups_;        // over 128 ticks (8 blocks) from offset 1
};

}  // namespace nimbus
