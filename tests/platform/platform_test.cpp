// The platform layer: saturating conversion, the clock and the sleep.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(SystemClockTest, ReadingsAdvanceMillisecondByMillisecond) {
    // A clock on a coarse system timer (Windows' tick count moves in ~15.6 ms steps) would jump.
    SystemClock clock;
    std::int32_t last = clock.now();
    std::int32_t smallestStep = std::numeric_limits<std::int32_t>::max();
    for (int steps = 0; steps < 20;) {
        const std::int32_t now = clock.now();
        if (now != last) {
            smallestStep = std::min(smallestStep, now - last);
            last = now;
            ++steps;
        }
    }
    EXPECT_EQ(smallestStep, 1);
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
