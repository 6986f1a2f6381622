#include "bot/physics/wind_law.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace nimbus {
namespace {

TEST(WindLawTest, PushesWithTheMassBeforePaying) {
    CloudState c{640.0f, 360.0f, 0.0f, 0.0f, 64.0f};
    ASSERT_EQ(windFault(c.mass, 0.0f, -32.0f), WindFault::None);  // exactly half the mass
    blowWind(c, 0.0f, -32.0f);
    EXPECT_FLOAT_EQ(c.vy, -20.0f);  // -32 x 5 / 8, not / sqrt(32)
    EXPECT_FLOAT_EQ(c.mass, 32.0f);
}

TEST(WindLawTest, CalmWindIsFreeEvenForAWeightlessCloud) {
    const CloudState before{640.0f, 360.0f, 1.0f, 0.0f, 0.0f};
    CloudState c = before;
    blowWind(c, 0.0f, 0.0f);
    EXPECT_TRUE(sameState(c, before));
}

TEST(WindLawTest, EachRoundingKeepsItsOwnBits) {
    // 0.1 + 0.9 x 5 / sqrt(17) = 1.19141030...: the three roundings land on three floats.
    const struct {
        WindRounding rounding;
        float vx;
    } cases[] = {{WindRounding::Double, 0x1.310044p+0f},
                 {WindRounding::FloatSteps, 0x1.310046p+0f},
                 {WindRounding::FloatFactor, 0x1.310042p+0f}};
    for (const auto& k : cases) {
        CloudState c{0.0f, 0.0f, 0.1f, 0.0f, 17.0f};
        pushByWind(c, 0.9f, 0.0f, k.rounding);
        EXPECT_EQ(c.vx, k.vx) << static_cast<int>(k.rounding);
        EXPECT_EQ(c.mass, 17.0f);
    }
}

TEST(WindLawTest, CostOfTheWorkedCatches) {
    EXPECT_EQ(rimCatchCost(10.0f, 60.0f, chaseShiftSum(100)), 10.503335f);
    EXPECT_NEAR(rimCatchCost(10.0f, 60.0f, chaseShiftSum(10)), 100.45, 0.01);
    EXPECT_EQ(rimCatchCost(10.0f, 10.0f, chaseShiftSum(3)), 0.0f);
    EXPECT_EQ(rimCatchCost(10.0f, 4.0f, chaseShiftSum(3)), 0.0f);
    // The reach bound lies just beyond the distance that the cap buys.
    const double reach = certainCatchReach(10.0, 10.503335, chaseShiftSum(100));
    EXPECT_GT(reach, 60.0);
    EXPECT_LT(reach, 60.001);
}

TEST(WindLawTest, ShiftSumTableHoldsWhatIntPowerGivesAtRunTime) {
    // The table is built at compile time; the planner's costs must not change by one bit.
    volatile double base = 0.999;  // keeps the reference computation at run time
    for (std::int32_t n = -3; n < 1100; ++n)
        ASSERT_EQ(chaseShiftSum(n), (1.0 - intPower(base, n)) * 500.0) << n;
    // It grows with n, which the score bounds of target selection rely on.
    for (std::int32_t n = 0; n < 1100; ++n)
        ASSERT_LT(chaseShiftSum(n), chaseShiftSum(n + 1)) << n;
}

}  // namespace
}  // namespace nimbus
