#include "bot/physics/motion.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace nimbus {
namespace {

std::string fixed6(float v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(v));
    return text;
}

TEST(MotionTest, OneTickMovesThenDampsIn32BitFloats) {
    CloudState c{500.0f, 300.0f, -30.0f, 2.0f, 100.0f};
    moveOneTick(c);
    EXPECT_EQ(fixed6(c.x), "497.000000");
    EXPECT_EQ(fixed6(c.vx), "-29.970001");
    EXPECT_EQ(c.y, 300.0f + 2.0f * 0.1f);
    EXPECT_EQ(c.vy, 2.0f * 0.999f);
    EXPECT_EQ(c.mass, 100.0f);
}

TEST(MotionTest, CloudNearLeftWallBouncesBackToItsRadius) {
    CloudState c{12.0f, 300.0f, -30.0f, 0.0f, 100.0f};
    moveOneTick(c);
    EXPECT_EQ(fixed6(c.x), "10.000000");
    EXPECT_EQ(fixed6(c.vx), "17.982000");
}

TEST(MotionTest, TouchingAWallIsNoBounce) {
    // After the move x is exactly the radius.
    CloudState c{11.0f, 300.0f, -10.0f, 0.0f, 100.0f};
    moveOneTick(c);
    EXPECT_EQ(c.x, 10.0f);
    EXPECT_LT(c.vx, 0.0f);

    float x = 1270.0f, y = 710.0f, vx = 3.0f, vy = 4.0f;
    EXPECT_FALSE(bounceOffWalls(x, y, vx, vy, 100.0f));
    EXPECT_EQ(vx, 3.0f);
    EXPECT_EQ(vy, 4.0f);
}

TEST(MotionTest, BeyondTheFarWallsTheCloudIsPutOnTheLine) {
    float x = 1275.5f, y = 712.0f, vx = 5.0f, vy = 10.0f;
    EXPECT_TRUE(bounceOffWalls(x, y, vx, vy, 100.0f));
    EXPECT_EQ(x, 1270.0f);
    EXPECT_EQ(y, 710.0f);
    EXPECT_EQ(vx, static_cast<float>(5.0 * -0.6));
    EXPECT_EQ(vy, static_cast<float>(10.0 * -0.6));
}

TEST(MotionTest, CornerBouncesOnBothAxesInOneTick) {
    float x = 3.0f, y = 2.0f, vx = -4.0f, vy = -5.0f;
    EXPECT_TRUE(bounceOffWalls(x, y, vx, vy, 25.0f));
    EXPECT_EQ(x, 5.0f);
    EXPECT_EQ(y, 5.0f);
    EXPECT_GT(vx, 0.0f);
    EXPECT_GT(vy, 0.0f);
}

TEST(MotionTest, NanCoordinateNeverBounces) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float x = nan, y = nan, vx = 1.0f, vy = 1.0f;
    EXPECT_FALSE(bounceOffWalls(x, y, vx, vy, 100.0f));
    EXPECT_TRUE(std::isnan(x));
    EXPECT_EQ(vx, 1.0f);
}

}  // namespace
}  // namespace nimbus
