// A path that goes on after a first catch: the clouds already swallowed are gone, neither
// swallowed again by the simulation nor offered as targets by the catch search.
#include <gtest/gtest.h>

#include <algorithm>

#include "bot/plan/thrifty/catch_options.hpp"
#include "bot/plan/thrifty/path_sim.hpp"
#include "tests/plan/plan_fixtures.hpp"

namespace nimbus {
namespace {

using testing::ownTrack;
using testing::snapshotAt;
using testing::still;

TEST(PathSimulator, CloudsAlreadySwallowedAreGone) {
    // The own cloud of 100 (radius 10) at rest, a raincloud of 10 inside its radius and one of
    // 20, 150 to the right.
    WorldSnapshot s = snapshotAt(100, still(300, 360, 100));
    s.rainclouds = {still(305, 360, 10), still(450, 360, 20)};
    CloudPaths paths;
    paths.predict(s, 500, 160, true);
    PathSimulator sim(paths);
    const PathOutcome first = sim.run(s.own, 0, 0.0f, 0.0f, 500, 0.0f);
    EXPECT_EQ(first.catches, 1);
    EXPECT_EQ(first.end.mass, 110.0f);
    EXPECT_EQ(sim.swallowed(), std::vector<std::int32_t>{0});

    sim.gone = {0};
    const PathOutcome after = sim.run(s.own, 0, 0.0f, 0.0f, 500, 0.0f);
    EXPECT_EQ(after.catches, 0);
    EXPECT_EQ(after.end.mass, 100.0f);

    const CatchRules rules{60.0, 1.0, 0.5, 0.4, true};
    const auto targets = [&](std::span<const std::int32_t> gone) {
        std::vector<std::int32_t> clouds;
        for (const CatchOption& o :
             cheapestCatches(paths, ownTrack(s), s.own, s.tick + 1, 1, rules, 10, gone))
            clouds.push_back(o.cloud);
        std::sort(clouds.begin(), clouds.end());
        return clouds;
    };
    EXPECT_EQ(targets({}), (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(targets(sim.gone), std::vector<std::int32_t>{1});
}

}  // namespace
}  // namespace nimbus
