#include "arena/server/tick_schedule.hpp"

#include <gtest/gtest.h>

namespace nimbus::arena {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(TickSchedule, TickKIsDueAtStartPlusKPeriods) {
    const milliseconds period(16);
    EXPECT_EQ(ticksDue(nanoseconds(0), period), 0);
    EXPECT_EQ(ticksDue(milliseconds(16) - nanoseconds(1), period), 0);
    EXPECT_EQ(ticksDue(milliseconds(16), period), 1);
    EXPECT_EQ(tickDueAt(3600, period), milliseconds(57600));
    EXPECT_EQ(ticksDue(tickDueAt(3600, period), period), 3600);  // no drift over a whole game
    EXPECT_EQ(ticksDue(nanoseconds(-5), period), 0);
}

TEST(TickSchedule, ALateTimerFindsEveryMissedTickDue) {
    // A timer meant for tick 10 that fires a second late finds ticks up to 72 due.
    const milliseconds period(16);
    EXPECT_EQ(ticksDue(tickDueAt(10, period) + milliseconds(1000), period), 72);
}

}  // namespace
}  // namespace nimbus::arena
