#include "arena/game/wind_law.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace nimbus::arena {
namespace {

CloudState restingCloud(float mass) {
    CloudState c;
    c.x = 640.0f;
    c.y = 360.0f;
    c.mass = mass;
    return c;
}

TEST(WindLaw, ChangesVelocityByFiveOverRootMassAndCostsStrength) {
    CloudState c = restingCloud(100.0f);
    c.vx = 1.0f;
    const WindVerdict v = applyWind(c, 3.0f, 4.0f);
    EXPECT_TRUE(v.accepted);
    EXPECT_TRUE(v.reason.empty());
    EXPECT_FLOAT_EQ(c.vx, 2.5f);  // 1 + 3 x 5 / 10
    EXPECT_FLOAT_EQ(c.vy, 2.0f);  // 4 x 5 / 10
    EXPECT_FLOAT_EQ(c.mass, 95.0f);
    EXPECT_FLOAT_EQ(c.x, 640.0f);  // a wind never moves the cloud by itself
}

TEST(WindLaw, RefusesWithoutChangingAnything) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float wx, wy;
    } refused[] = {{30.0f, 40.001f}, {nan, 0.0f},  {0.0f, nan},
                   {inf, 0.0f},      {0.0f, -inf}, {3e38f, 3e38f}};
    for (const auto& w : refused) {
        CloudState c = restingCloud(100.0f);
        const WindVerdict v = applyWind(c, w.wx, w.wy);
        EXPECT_FALSE(v.accepted) << w.wx << " " << w.wy;
        EXPECT_FALSE(v.reason.empty());
        EXPECT_TRUE(sameState(c, restingCloud(100.0f)));
    }
}

}  // namespace
}  // namespace nimbus::arena
