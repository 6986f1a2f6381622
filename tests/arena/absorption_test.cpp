#include "arena/game/absorption.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

#include "tools/absorption_reference.hpp"

namespace nimbus::arena {
namespace {

Cloud cloud(std::int32_t id, float x, float y, float mass, float vx = 0.0f, float vy = 0.0f) {
    Cloud c;
    c.id = id;
    c.state = {x, y, vx, vy, mass};
    return c;
}

const Cloud* find(const std::vector<Cloud>& clouds, std::int32_t id) {
    for (const Cloud& c : clouds) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

TEST(Absorption, HeavierSwallowsKeepingPositionAndMomentum) {
    std::vector<Cloud> clouds{cloud(0, 500, 300, 100, 1, 0), cloud(1, 505, 300, 20, -4, 2)};
    const auto swallows = resolveAbsorption(clouds);
    ASSERT_EQ(swallows.size(), 1u);
    EXPECT_EQ(swallows[0].by, 0);
    EXPECT_EQ(swallows[0].victim, 1);
    ASSERT_EQ(clouds.size(), 1u);
    const CloudState& s = clouds[0].state;
    EXPECT_EQ(s.x, 500.0f);
    EXPECT_EQ(s.y, 300.0f);
    EXPECT_FLOAT_EQ(s.mass, 120.0f);
    EXPECT_FLOAT_EQ(s.vx, 20.0f / 120.0f);  // (100 x 1 + 20 x -4) / 120
    EXPECT_FLOAT_EQ(s.vy, 40.0f / 120.0f);
}

TEST(Absorption, EqualMassesNeverSwallowEachOther) {
    std::vector<Cloud> clouds{cloud(0, 500, 300, 50), cloud(1, 500, 300, 50)};
    EXPECT_TRUE(resolveAbsorption(clouds).empty());
    EXPECT_EQ(clouds.size(), 2u);
}

TEST(Absorption, CentreExactlyOnTheRimIsNotSwallowed) {
    std::vector<Cloud> onRim{cloud(0, 500, 300, 100), cloud(1, 510, 300, 1)};
    EXPECT_TRUE(resolveAbsorption(onRim).empty());
    std::vector<Cloud> inside{cloud(0, 500, 300, 100), cloud(1, 509.99f, 300, 1)};
    EXPECT_EQ(resolveAbsorption(inside).size(), 1u);
}

TEST(Absorption, HeaviestFirstWhateverTheContainerOrder) {
    // A reaches B, B reaches C, A does not reach C. Heaviest first: A eats B (150, radius ~12.2)
    // and still misses C at 14. Had B gone first, A would have ended at 180.
    std::vector<Cloud> clouds{cloud(0, 500, 300, 100), cloud(1, 508, 300, 50),
                              cloud(2, 514, 300, 30)};
    std::sort(clouds.begin(), clouds.end(), [](auto& a, auto& b) { return a.id < b.id; });
    do {
        std::vector<Cloud> trial = clouds;
        const auto swallows = resolveAbsorption(trial);
        ASSERT_EQ(swallows.size(), 1u);
        EXPECT_EQ(swallows[0].by, 0);
        EXPECT_EQ(swallows[0].victim, 1);
        ASSERT_NE(find(trial, 0), nullptr);
        EXPECT_FLOAT_EQ(find(trial, 0)->state.mass, 150.0f);
        ASSERT_NE(find(trial, 2), nullptr);
    } while (std::next_permutation(clouds.begin(), clouds.end(),
                                   [](auto& a, auto& b) { return a.id < b.id; }));
}

TEST(Absorption, AGrownCloudReachesFurtherInTheSameTick) {
    // A (100, radius 10) eats B at 9; at 190 its radius is ~13.8 and reaches C at 13.
    std::vector<Cloud> clouds{cloud(2, 513, 300, 10), cloud(0, 500, 300, 100),
                              cloud(1, 509, 300, 90)};
    const auto swallows = resolveAbsorption(clouds);
    ASSERT_EQ(swallows.size(), 2u);
    ASSERT_EQ(clouds.size(), 1u);
    EXPECT_EQ(clouds[0].id, 0);
    EXPECT_FLOAT_EQ(clouds[0].state.mass, 200.0f);
}

TEST(Absorption, ACloudThatOutgrowsAHeavierOneSwallowsItToo) {
    // H (60) reaches nothing; A (50) eats B (40) and, now 90 with radius ~9.5, reaches H at 9.
    std::vector<Cloud> clouds{cloud(0, 300, 300, 60), cloud(1, 309, 300, 50),
                              cloud(2, 314, 300, 40)};
    const auto swallows = resolveAbsorption(clouds);
    ASSERT_EQ(swallows.size(), 2u);
    EXPECT_EQ(swallows[1].by, 1);
    EXPECT_EQ(swallows[1].victim, 0);
    ASSERT_EQ(clouds.size(), 1u);
    EXPECT_EQ(clouds[0].state.x, 309.0f);
    EXPECT_FLOAT_EQ(clouds[0].state.mass, 150.0f);
}

// Tight random clusters (chains, equal masses, clouds outgrowing heavier ones), some with
// non-finite values or negative masses, resolve exactly as the reference rules resolve them.
TEST(Absorption, MatchesTheReferenceOnDenseAndMalformedClouds) {
    std::mt19937 rng(8);
    auto uniform = [&](double lo, double hi) {
        return static_cast<float>(std::uniform_real_distribution<double>(lo, hi)(rng));
    };
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), -3.0f, -0.0f, 0.0f};
    int swallows = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int n = 2 + static_cast<int>(rng() % 15);
        const float spread = uniform(2, 60);
        std::vector<Cloud> clouds;
        for (int id = 0; id < n; ++id) {
            const float mass = rng() % 4 == 0 ? 25.0f : uniform(1, 120);  // many equal masses
            clouds.push_back(cloud(id, 300 + uniform(0, spread), 300 + uniform(0, spread), mass,
                                   uniform(-3, 3), uniform(-3, 3)));
        }
        if (trial % 3 == 0) {  // one special value in some field of some cloud
            float CloudState::*const fields[] = {&CloudState::x, &CloudState::y, &CloudState::vx,
                                                 &CloudState::vy, &CloudState::mass};
            clouds[rng() % clouds.size()].state.*fields[rng() % 5] =
                specials[rng() % std::size(specials)];
        }
        std::vector<Cloud> want = clouds;
        const auto wantSwallows = reference::resolveAbsorption(want);
        const auto gotSwallows = resolveAbsorption(clouds);
        ASSERT_TRUE(reference::sameSwallows(gotSwallows, wantSwallows)) << "trial " << trial;
        ASSERT_TRUE(reference::sameClouds(clouds, want)) << "trial " << trial;
        swallows += static_cast<int>(wantSwallows.size());
    }
    EXPECT_GT(swallows, 3000);
}

// Whole seeded games of 100 clouds with greedy players: every tick's clouds (so its fingerprint)
// and swallows equal the reference rules' (nimbus-absorption-check runs hundreds of games).
TEST(Absorption, WholeGamesMatchTheReferenceTickByTick) {
    std::int64_t swallows = 0;
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        GameSettings settings;
        settings.seed = seed;
        settings.players = 4;
        settings.rainclouds = 96;
        settings.ticks = 1500;
        const reference::GameComparison c = reference::compareGame(settings);
        EXPECT_EQ(c.differingTicks, 0) << "seed " << seed << ", tick " << c.firstDifferingTick;
        EXPECT_GT(c.ticks, 100);
        swallows += c.swallows;
    }
    EXPECT_GT(swallows, 10);
}

}  // namespace
}  // namespace nimbus::arena
