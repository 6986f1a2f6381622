// Bit-exactness of the planner: recomputes the recorded digests of seeded random scenarios (the
// own trajectory, an extra prediction and every stage of the decided plan; see
// tools/plan_scenarios.hpp) and compares them with the ones recorded in data/plan_digests.txt.
// A difference means a change made some prediction or decision differ in at least one bit; run
// `nimbus-plan-digest --show INDEX` on both builds to see which.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/plan_scenarios.hpp"

namespace nimbus {
namespace {

using namespace nimbus::scenarios;

TEST(PlanDigestTest, RecordedScenariosGiveTheRecordedOutputs) {
    std::ifstream file(NIMBUS_PLAN_DIGESTS);
    ASSERT_TRUE(file) << NIMBUS_PLAN_DIGESTS;
    std::uint64_t seed = 0;
    std::uint64_t recordedCombined = 0;
    Digest combined;
    std::uint64_t checked = 0;
    int outcomes[static_cast<int>(Outcome::Count)] = {};
    int wraps = 0;
    std::string line;
    while (std::getline(file, line)) {
        std::uint64_t index = 0;
        std::uint64_t expected = 0;
        char outcome[16] = {};
        if (std::sscanf(line.c_str(), "seed %" SCNu64, &seed) == 1)
            continue;
        if (std::sscanf(line.c_str(), "digest %" SCNx64, &recordedCombined) == 1)
            continue;
        ASSERT_EQ(
            std::sscanf(line.c_str(), "%" SCNu64 " %" SCNx64 " %15s", &index, &expected, outcome),
            3)
            << line;
        ASSERT_EQ(index, checked) << "the file lists the scenarios in order from 0";
        const Result r = runScenario(makeScenario(seed, index));
        EXPECT_EQ(r.digest, expected) << "scenario " << index;
        EXPECT_STREQ(outcomeName(r.outcome), outcome) << "scenario " << index;
        combined.add(r.digest);
        ++outcomes[static_cast<int>(r.outcome)];
        wraps += r.wraps;
        ++checked;
    }
    EXPECT_GE(checked, 2000u);
    EXPECT_EQ(combined.value(), recordedCombined);
    // The scenarios reach every kind of decision, and the int32 wrap.
    for (int o = 0; o < static_cast<int>(Outcome::Count); ++o)
        EXPECT_GE(outcomes[o], 100) << outcomeName(static_cast<Outcome>(o));
    EXPECT_GE(wraps, 50);
}

}  // namespace
}  // namespace nimbus
