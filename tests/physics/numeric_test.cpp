#include "bot/physics/numeric.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace nimbus {
namespace {

TEST(NumericTest, IntPowerHandlesSignsAndZero) {
    EXPECT_EQ(intPower(2.0, -3), 0.125);
    EXPECT_EQ(intPower(-2.0, 3), -8.0);
    EXPECT_EQ(intPower(3.0, 5), 243.0);
    EXPECT_EQ(intPower(0.0, 0), 1.0);
    EXPECT_EQ(intPower(std::numeric_limits<double>::quiet_NaN(), 0), 1.0);
    EXPECT_EQ(intPower(2.0, std::numeric_limits<std::int32_t>::min()), 0.0);
}

TEST(NumericTest, IntPowerOfTheDampingFactor) {
    EXPECT_NEAR(intPower(0.999, 100), 0.9047921, 5e-8);
    EXPECT_NEAR(intPower(0.999, 500), std::pow(0.999, 500), 1e-12);
}

TEST(NumericTest, LineOffsetIsSignedClockwisePositive) {
    EXPECT_EQ(lineOffset(1.0f, 0.0f, 0.0f, 5.0f), -5.0f);
    EXPECT_EQ(lineOffset(1.0f, 0.0f, 0.0f, -5.0f), 5.0f);
    // The length of the direction does not matter.
    EXPECT_EQ(lineOffset(0.0f, 20.0f, 3.0f, 7.0f), 3.0f);
}

TEST(NumericTest, LineOffsetOfAVanishingDirectionIsHuge) {
    EXPECT_EQ(lineOffset(0.0f, 0.0f, 1.0f, 1.0f), 1e10f);
    EXPECT_EQ(lineOffset(0.000001f, 0.0f, 1.0f, 1.0f), 1e10f);
    EXPECT_NE(lineOffset(0.0001f, 0.0f, 1.0f, 1.0f), 1e10f);
}

}  // namespace
}  // namespace nimbus
