// The tick clock: moving average, tick/clock conversion and the wind-tick calibration.
#include "bot/control/tick_clock.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace nimbus {
namespace {

TickClock clockAfter(std::int32_t tick, std::int32_t reading) {
    TickClock c;
    c.stateClock = reading;
    c.recordState(tick);
    return c;
}

TEST(TickClockRecordTest, FirstStateTakesNoSample) {
    TickClock c = clockAfter(100, 100);
    EXPECT_EQ(c.msPerTick, 16.0f);
    EXPECT_EQ(c.lastTick, 100);
    EXPECT_EQ(c.lastClock, 100);
}

TEST(TickClockRecordTest, SampleMovesTheAverageByAnEighth) {
    TickClock c = clockAfter(100, 100);
    c.stateClock = 270;
    c.recordState(110);
    EXPECT_EQ(c.msPerTick, 16.125f);
    EXPECT_EQ(c.lastTick, 110);
    EXPECT_EQ(c.lastClock, 270);
}

TEST(TickClockRecordTest, SameOrOlderTickTakesNoSampleButMovesTheReading) {
    TickClock c = clockAfter(100, 100);
    c.stateClock = 180;
    c.recordState(100);
    EXPECT_EQ(c.msPerTick, 16.0f);
    EXPECT_EQ(c.lastClock, 180);
    // The server's tick went backwards: no sample (it would be negative), but both move.
    c.stateClock = 300;
    c.recordState(90);
    EXPECT_EQ(c.msPerTick, 16.0f);
    EXPECT_EQ(c.lastTick, 90);
    EXPECT_EQ(c.lastClock, 300);
}

TEST(TickClockRecordTest, ExtremeTicksNeitherOverflowNorPoisonTheAverage) {
    TickClock c = clockAfter(std::numeric_limits<std::int32_t>::min(), 10);
    c.stateClock = 20;
    c.recordState(std::numeric_limits<std::int32_t>::max());
    EXPECT_TRUE(std::isfinite(c.msPerTick));
    EXPECT_GT(c.msPerTick, 0.0f);
}

TEST(TickClockRecordTest, RepliesWithinOneMillisecondNeverWearTheAverageDownToZero) {
    // Every sample is 0 ms per tick: the average shrinks by 7/8 each time, down to the smallest
    // positive float, where rounding holds it (7/8 of it rounds back up).
    TickClock c = clockAfter(0, 10);
    for (std::int32_t tick = 1; tick <= 3000; ++tick)
        c.recordState(tick);
    EXPECT_GT(c.msPerTick, 0.0f);
    EXPECT_LT(c.msPerTick, 1e-30f);
    EXPECT_EQ(c.tickAtClock(11), std::numeric_limits<std::int32_t>::max());
}

TEST(TickClockConversionTest, ClockAtTickWithAndWithoutDrift) {
    TickClock c = clockAfter(110, 270);
    c.tickDrift = 0.5f;
    EXPECT_EQ(c.clockAtTick(120, true), 422);
    EXPECT_EQ(c.clockAtTick(120, false), 430);
    EXPECT_EQ(c.tickAtClock(430), 120);
    EXPECT_EQ(c.tickAtClock(429), 119);
    EXPECT_EQ(c.tickAtClock(270 - 17), 108);  // 108.94 truncated
}

TEST(TickClockConversionTest, ExtremeDriftsAndTicksSaturate) {
    TickClock c = clockAfter(0, 1000);
    c.tickDrift = 1e30f;
    EXPECT_EQ(c.clockAtTick(10, true), std::numeric_limits<std::int32_t>::min());
    c.tickDrift = -1e30f;
    EXPECT_EQ(c.clockAtTick(10, true), std::numeric_limits<std::int32_t>::max());
    c.tickDrift = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(c.clockAtTick(10, true), 0);
    EXPECT_EQ(c.clockAtTick(std::numeric_limits<std::int32_t>::max(), false),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(c.tickAtClock(std::numeric_limits<std::int32_t>::max()), 134217665);
    c.lastTick = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(c.tickAtClock(std::numeric_limits<std::int32_t>::max()),
              std::numeric_limits<std::int32_t>::max());
}

TickClock plannedAt100() {
    TickClock c;
    c.plannedTick = 100;
    c.plannedState = CloudState{50, 20, 10, 0, 100};
    c.windSkipped = false;
    return c;
}

TEST(TickClockCalibrateTest, WorkedEstimateAgreesOnBothAxes) {
    TickClock c = plannedAt100();
    EXPECT_EQ(c.calibrate(110, CloudState{66, 14, 20, -10, 100}), 104);
    EXPECT_EQ(c.tickDrift, 0.2f);
    EXPECT_EQ(c.lastTick, 110);
}

TEST(TickClockCalibrateTest, SkippedWindOnlyRefinesTheAverage) {
    TickClock c = plannedAt100();
    c.lastClock = 100;
    c.lastTick = 100;
    c.stateClock = 270;
    c.windSkipped = true;
    EXPECT_EQ(c.calibrate(110, CloudState{66, 14, 20, -10, 100}), 100);
    EXPECT_EQ(c.tickDrift, 0.0f);
    EXPECT_EQ(c.msPerTick, 16.125f);
    EXPECT_EQ(c.lastClock, 270);
}

TEST(TickClockCalibrateTest, EqualVelocitiesGiveZeroOffsets) {
    TickClock c = plannedAt100();
    EXPECT_EQ(c.calibrate(110, CloudState{60, 20, 10, 0, 100}), 100);
    EXPECT_EQ(c.tickDrift, 0.0f);
}

TEST(TickClockCalibrateTest, WindOnOneAxisCountsOnlyWhenItsOffsetIsZero) {
    // vx changed, vy did not (y offset 0): the x offset of 4 disagrees.
    TickClock c = plannedAt100();
    EXPECT_EQ(c.calibrate(110, CloudState{66, 20, 20, 0, 100}), 100);
    EXPECT_EQ(c.tickDrift, 0.0f);
    // The wind acted on time: x moved 10 ticks at the new speed, offset 0 on both axes.
    TickClock d = plannedAt100();
    EXPECT_EQ(d.calibrate(110, CloudState{70, 20, 20, 0, 100}), 100);
    EXPECT_EQ(d.tickDrift, 0.0f);
}

TEST(TickClockCalibrateTest, AxesThatDisagreeLeaveTheDrift) {
    TickClock c = plannedAt100();
    // x offset 4 (as in the worked estimate); y: (-5 + 10) x 10 / 10 + 0.5 = 5.5 -> 5.
    EXPECT_EQ(c.calibrate(110, CloudState{66, 15, 20, -10, 100}), 100);
    EXPECT_EQ(c.tickDrift, 0.0f);
}

TEST(TickClockCalibrateTest, RoundingAddsAHalfAndTruncatesTowardZero) {
    // Offsets of -0.6 on both axes round to 0; -1.7 rounds to -1.
    TickClock c = plannedAt100();
    c.plannedState = CloudState{0, 0, 10, 10, 100};
    // observed v 20: offset = (dp - 10 x 2) x 10 / -10 + 0.5 -> dp = 20 + 0.6 gives -0.6 + 0.5
    EXPECT_EQ(c.calibrate(110, CloudState{20.6f, 20.6f, 20, 20, 100}), 100);
    EXPECT_EQ(c.tickDrift, 0.0f);
    EXPECT_EQ(c.calibrate(110, CloudState{21.7f, 21.7f, 20, 20, 100}), 99);
    EXPECT_EQ(c.tickDrift, -0.05f);
}

TEST(TickClockCalibrateTest, DegenerateObservationsNeverOverflow) {
    TickClock c = plannedAt100();
    c.plannedState = CloudState{0, 0, 10, 10, 100};
    const std::int32_t result = c.calibrate(110, CloudState{3e38f, 3e38f, 1e-30f, 1e-30f, 100});
    EXPECT_EQ(result, std::numeric_limits<std::int32_t>::max());
    EXPECT_TRUE(std::isfinite(c.tickDrift));
}

}  // namespace
}  // namespace nimbus
