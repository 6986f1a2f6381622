// The platform layer: saturating conversion, the clock and the sleep.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "bot/platform/clock.hpp"
#include "bot/platform/saturate.hpp"

namespace nimbus::platform {
namespace {

TEST(SaturateTest, TruncatesTowardZeroInsideTheRange) {
    EXPECT_EQ(saturateToInt32(4.9), 4);
    EXPECT_EQ(saturateToInt32(-4.9), -4);
    EXPECT_EQ(saturateToInt32(-0.0), 0);
    EXPECT_EQ(saturateToInt32(2147483646.9), 2147483646);
    EXPECT_EQ(saturateToInt32(-2147483648.0), std::numeric_limits<std::int32_t>::min());
}

TEST(SaturateTest, NaNAndOutOfRangeValuesSaturate) {
    EXPECT_EQ(saturateToInt32(std::nan("")), 0);
    EXPECT_EQ(saturateToInt32(2147483647.5), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(saturateToInt32(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(saturateToInt32(-2147483649.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(saturateToInt32(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::min());
}

TEST(SystemClockTest, StartsPositiveAndFollowsSleeps) {
    SystemClock clock;
    const std::int32_t first = clock.now();
    EXPECT_GE(first, 1);
    clock.sleep(30);
    const std::int32_t second = clock.now();
    EXPECT_GE(second - first, 30);
}

TEST(SystemClockTest, NonPositiveSleepsReturnAtOnce) {
    SystemClock clock;
    const auto start = std::chrono::steady_clock::now();
    clock.sleep(0);
    clock.sleep(-500);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

}  // namespace
}  // namespace nimbus::platform
