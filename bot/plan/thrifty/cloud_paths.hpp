#pragma once
// The free paths of every other cloud of a snapshot: each raincloud and rival moved tick by tick
// with the motion model (damped straight motion, wall bounces) and no wind, from the snapshot's
// tick for a number of ticks. Built once per decision and read by the path simulation, which
// skips the clouds that stay far away with the help of each path's bounding boxes over blocks of
// kBlockTicks ticks.
#include <cstdint>
#include <utility>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/motion.hpp"
#include "bot/physics/world_snapshot.hpp"

namespace nimbus {

class CloudPaths {
  public:
    static constexpr std::int32_t kBlockTicks = 16;

    // Where a cloud's centre stays during a block of ticks, and its mass at the block's first
    // tick.
    struct Box {
        float minX, maxX, minY, maxY;
        float firstMass;
    };

    // Refills the paths from the snapshot for ticks snapshot.tick .. snapshot.tick + horizon: the
    // rainclouds in list order, then the rivals; of a crowded arena only the maxClouds nearest
    // to the own cloud. Reuses the storage of earlier calls. With swallows, the clouds followed
    // also swallow each other as the arena's rules say (a lighter cloud whose centre comes
    // strictly within a heavier one's radius joins it, momentum kept); a swallowed cloud keeps its
    // last place with mass 0 from then on. Without, every cloud drifts on its own.
    void predict(const WorldSnapshot& snapshot, std::int32_t horizon, std::int32_t maxClouds,
                 bool swallows = false);

    std::int32_t clouds() const { return count_; }
    std::int32_t horizon() const { return horizon_; }
    // The largest mass of any cloud followed at any tick.
    float heaviest() const { return heaviest_; }
    // Whether cloud c is a rival (a player's cloud) rather than a raincloud.
    bool isRival(std::int32_t c) const { return rival_[static_cast<std::size_t>(c)] != 0; }
    // Cloud c's state k ticks after the snapshot's tick, 0 <= k <= horizon.
    const CloudState& at(std::int32_t c, std::int32_t k) const {
        return states_[static_cast<std::size_t>(c) * stride_ + static_cast<std::size_t>(k)];
    }
    // The block that holds tick offset k >= 1: offsets 1 .. 16 are block 0, and so on.
    static std::int32_t blockOf(std::int32_t k) { return (k - 1) / kBlockTicks; }
    // Whether offset k >= 1 is the first of its block (the tick of Box::firstMass).
    static bool startsBlock(std::int32_t k) { return (k - 1) % kBlockTicks == 0; }
    // The bounding box of cloud c's centre over block b (its ticks up to the horizon).
    Box box(std::int32_t c, std::int32_t b) const {
        const std::size_t i = boxIndex(c, b);
        return {minX_[i], maxX_[i], minY_[i], maxY_[i], firstMass_[i]};
    }
    // Sets near[c] to 1 for every cloud c whose box over block b may come within `reach` of
    // (x, y), and to 0 for the others, which certainly do not: a first cheap test over all the
    // clouds at once, in floats, that lets through a little more than the exact test. near is
    // resized to clouds() rounded up to a multiple of 8, the marks past clouds() 0.
    void markNear(std::int32_t b, float x, float y, double reach, std::vector<char>& near) const;

  private:
    std::size_t boxIndex(std::int32_t c, std::int32_t b) const {
        return static_cast<std::size_t>(b) * static_cast<std::size_t>(count_) +
               static_cast<std::size_t>(c);
    }
    // now_ and walls_ from the clouds' starts, and the starts stored at offset 0.
    void startFollowing();
    // Every cloud's path on its own, or all together with their swallows.
    void followAlone();
    void followTogether();
    // Every cloud's state in now_ stored at offset k; the boxes of k's block begun at its first
    // tick, closed at its last.
    void storeTick(std::int32_t k);
    // The boxes of the block that ends at offset k, from the states stored over it.
    void closeBoxes(std::int32_t k);
    // Orders order_ (the clouds still there) by their x in now_.
    void sortByX();
    // One tick of motion for the clouds still there (those of order_), then sortByX().
    void moveByX();
    // Finds at tick k (after its moves) the pairs of clouds that may touch by tick pairsUntil_:
    // the only pairs anyTouch() looks at until then.
    void findPairs(std::int32_t k);
    // Whether two clouds may touch now: a centre strictly within the larger radius of the two.
    // Never false when swallow() would find a swallow; in most ticks false.
    bool anyTouch() const;
    // One swallow among the clouds of now_; false when there is none.
    bool swallow();
    // Cloud big swallows cloud small in now_: masses add, momentum is kept, small is gone.
    void join(std::size_t big, std::size_t small);

    std::int32_t count_ = 0;
    std::vector<char> rival_;
    std::int32_t horizon_ = 0;
    std::size_t stride_ = 1;
    std::size_t blocks_ = 0;
    std::vector<CloudState> states_;
    std::vector<CloudState> starts_;
    std::vector<CloudState> now_;  // the clouds at the tick being followed
    std::vector<WallBounds> walls_;
    std::vector<std::int32_t> order_;  // the clouds still there by x, for the swallows
    double reach_ = 0.0;               // the largest radius among them
    // The pairs of clouds that may touch until tick pairsUntil_ (found kPairTicks at a time),
    // or every pair (pairsAll_) when the clouds are too far out for the bounds of findPairs.
    static constexpr std::int32_t kPairTicks = 16;
    static constexpr double kFar = 1e4;           // positions, speeds and radii within this
    static constexpr double kStepBound = 0.1001;  // a tick's move per unit of velocity, at most
    static constexpr double kRounding = 1e-3;     // covers the rounding of a tick's sums
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs_;
    std::int32_t pairsUntil_ = 0;
    bool pairsAll_ = false;
    std::vector<double> reachX_, reachY_;  // how far each cloud may move until pairsUntil_
    float heaviest_ = 0.0f;
    // Per cloud, whether it bounced or swallowed in the block being followed (after its first
    // tick): its box then needs every tick.
    std::vector<char> turned_;
    // The boxes, one array per side, the clouds of one block side by side: the scan of
    // markNear reads each side in a row.
    std::vector<float> minX_, maxX_, minY_, maxY_, firstMass_;
};

}  // namespace nimbus
