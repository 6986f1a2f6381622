// The other clouds' predicted paths with their swallows: a rival that drifts into a lighter
// raincloud takes it (masses add, momentum is kept), grows and can then reach a cloud it could
// not before; a heavier raincloud takes a rival; equal masses pass; without swallows every cloud
// drifts on alone. The heaviest mass they reach bounds every reach the path simulation tests.
#include <gtest/gtest.h>

#include <cmath>

#include "bot/plan/thrifty/cloud_paths.hpp"
#include "tests/plan/plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::snapshotAt;
using testing::still;

constexpr std::int32_t kHorizon = 500;

struct Case {
    const char* what;
    bool swallows;
    std::vector<CloudState> rainclouds;
    std::vector<CloudState> rivals;
    std::vector<float> finalMasses;  // in the paths' order: the rainclouds, then the rivals
    float heaviest;                  // the largest mass at any tick
};

TEST(CloudPaths, FollowsTheSwallowsAmongTheOtherClouds) {
    // The own cloud sits far away in a corner. A rival of mass 150 (radius 12.25) moves right
    // at 1 unit per tick, 60 left of a raincloud of 60: it covers the 47.75 to the swallow by
    // tick 49 (damping 0.999 per tick).
    const CloudState rival{700, 360, 10, 0, 150};
    const CloudState prey = still(760, 360, 60);
    const Case cases[] = {
        {"a rival drifts into a lighter raincloud", true, {prey}, {rival}, {0, 210}, 210},
        {"the same without swallows", false, {prey}, {rival}, {60, 150}, 150},
        // 180 would swallow the rival of 150, but not the rival of 210 it has become by then.
        {"grown, it takes the next", true, {prey, still(800, 360, 180)}, {rival}, {0, 0, 390}, 390},
        {"a heavier raincloud takes it", true, {still(760, 360, 200)}, {rival}, {350, 0}, 350},
        {"equal masses pass", true, {still(760, 360, 150)}, {rival}, {150, 150}, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorldSnapshot s = snapshotAt(100, still(50, 50, 100));
        s.rainclouds.assign(c.rainclouds.begin(), c.rainclouds.end());
        s.rivals.assign(c.rivals.begin(), c.rivals.end());
        CloudPaths paths;
        paths.predict(s, kHorizon, 160, c.swallows);
        ASSERT_EQ(paths.clouds(), static_cast<std::int32_t>(c.finalMasses.size()));
        for (std::int32_t i = 0; i < paths.clouds(); ++i)
            EXPECT_EQ(paths.at(i, kHorizon).mass, c.finalMasses[static_cast<std::size_t>(i)])
                << "cloud " << i;
        EXPECT_EQ(paths.heaviest(), c.heaviest);
    }
}

TEST(CloudPaths, ASwallowedCloudIsGoneFromItsTickOnAndItsTakerKeepsTheMomentum) {
    const struct {
        const char* what;
        CloudState rival;
        std::int32_t tick;  // of the swallow
    } cases[] = {
        {"from the left", {700, 360, 10, 0, 150}, 49},
        {"from the right", {820, 360, -10, 0, 150}, 49},
        // Ten times as fast, the raincloud within its radius for two or three ticks only.
        {"running through", {640, 360, 100, 0, 150}, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WorldSnapshot s = snapshotAt(100, still(50, 50, 100));
        s.rainclouds = {still(760, 360, 60)};
        s.rivals = {c.rival};
        CloudPaths paths;
        paths.predict(s, kHorizon, 160, true);
        EXPECT_EQ(paths.at(0, c.tick - 1).mass, 60.0f);
        EXPECT_EQ(paths.at(0, c.tick).mass, 0.0f);
        EXPECT_EQ(paths.at(0, c.tick).x, 760.0f);  // a swallowed cloud stays where it was
        EXPECT_EQ(paths.at(1, c.tick).mass, 210.0f);
        // The velocity damped by 0.999 a tick before, times 150 / 210 after.
        EXPECT_NEAR(paths.at(1, c.tick).vx, c.rival.vx * std::pow(0.999, c.tick) * 150.0 / 210.0,
                    1e-4);
        EXPECT_NEAR(paths.at(1, c.tick + 1).x - paths.at(1, c.tick).x,
                    0.1 * paths.at(1, c.tick).vx, 1e-4);
    }
}

// Each box is the exact bounds of its cloud's centre over its block: through wall bounces, and
// through a swallow that turns the taker round.
TEST(CloudPaths, EachBoxBoundsItsBlockExactly) {
    WorldSnapshot s = snapshotAt(100, still(50, 50, 100));
    s.rainclouds = {{30, 300, -40, 25, 50},   // bounces off the left wall at tick 6
                    {402, 200, 300, 0, 20},   // fast, into
                    {640, 200, -90, 0, 40}};  // the heavier, which takes it and turns round
    s.rivals = {{900, 500, 30, -20, 150}};
    CloudPaths paths;
    paths.predict(s, 41, 160, true);
    for (std::int32_t c = 0; c < paths.clouds(); ++c) {
        for (std::int32_t k = 1; k <= paths.horizon(); ++k) {
            const CloudPaths::Box box = paths.box(c, CloudPaths::blockOf(k));
            float minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
            const std::int32_t b = CloudPaths::blockOf(k);
            for (std::int32_t t = k; t <= paths.horizon() && CloudPaths::blockOf(t) == b; ++t) {
                minX = std::min(minX, paths.at(c, t).x);
                maxX = std::max(maxX, paths.at(c, t).x);
                minY = std::min(minY, paths.at(c, t).y);
                maxY = std::max(maxY, paths.at(c, t).y);
            }
            if (!CloudPaths::startsBlock(k))
                continue;
            SCOPED_TRACE(::testing::Message() << "cloud " << c << " tick " << k);
            EXPECT_EQ(box.minX, minX);
            EXPECT_EQ(box.maxX, maxX);
            EXPECT_EQ(box.minY, minY);
            EXPECT_EQ(box.maxY, maxY);
        }
    }
}

// The first test of the path simulation, in floats: it may let through a little more than the
// exact test (x within reach of the box, in doubles), never less.
TEST(CloudPaths, MarksEveryCloudTheExactTestWouldReach) {
    WorldSnapshot s = snapshotAt(100, still(50, 50, 100));
    s.rainclouds = {still(640.3f, 360.7f, 30), still(100, 600, 30)};
    CloudPaths paths;
    paths.predict(s, 32, 160, true);
    const double reach = 37.123456789;
    const struct {
        const char* what;
        float x, y;
        double reach;
        std::vector<char> marks;  // the two clouds', then the padding to 8
    } cases[] = {
        {"the exact test's edge", static_cast<float>(640.3f - reach), 360.7f, reach,
         {1, 0, 0, 0, 0, 0, 0, 0}},
        {"beyond the edge by less than a unit", static_cast<float>(640.3f + reach + 0.5), 360.7f,
         reach, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"far beyond", static_cast<float>(640.3f + reach + 2.0), 360.7f, reach,
         {0, 0, 0, 0, 0, 0, 0, 0}},
        {"an endless reach", 0.0f, 0.0f, INFINITY, {1, 1, 0, 0, 0, 0, 0, 0}},
        {"a NaN reach", 640.3f, 360.7f, NAN, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    std::vector<char> marks;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        paths.markNear(0, c.x, c.y, c.reach, marks);
        EXPECT_EQ(marks, c.marks);
    }
    CloudPaths none;  // no other cloud at all
    none.predict(snapshotAt(100, still(50, 50, 100)), 32, 160, true);
    none.markNear(0, 50.0f, 50.0f, reach, marks);
    EXPECT_TRUE(marks.empty());
}

}  // namespace
}  // namespace nimbus
