// Speed of the per-cycle planning work: the whole decision on a busy arena, and the own-path
// prediction of 500 ticks.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "tools/plan_scenarios.hpp"
#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/decide.hpp"

namespace nimbus {
namespace {

// 8 rivals and 100 rainclouds spread over the arena, all lighter than the own cloud so that no
// threat cuts the decision short and every cloud is a candidate. Seeded: the same every run.
WorldSnapshot busyArena() {
    std::mt19937 random(20261208u);
    std::uniform_real_distribution<float> x(20.0f, 1260.0f);
    std::uniform_real_distribution<float> y(20.0f, 700.0f);
    std::uniform_real_distribution<float> v(-20.0f, 20.0f);
    std::uniform_real_distribution<float> rainMass(4.0f, 60.0f);
    std::uniform_real_distribution<float> rivalMass(20.0f, 120.0f);
    WorldSnapshot snapshot;
    snapshot.tick = 1234;
    snapshot.own = CloudState{640.0f, 360.0f, 6.0f, -4.0f, 400.0f};
    for (int i = 0; i < 8; ++i)
        snapshot.rivals.push_back({x(random), y(random), v(random), v(random), rivalMass(random)});
    for (int i = 0; i < 100; ++i)
        snapshot.rainclouds.push_back(
            {x(random), y(random), v(random), v(random), rainMass(random)});
    return snapshot;
}

void BM_DecidePlan(benchmark::State& state) {
    const WorldSnapshot snapshot = busyArena();
    Trajectory own(1000);
    own.predict(snapshot.tick, 500, snapshot.own);
    Strategy first = decidePlan(0.0f, snapshot, own);
    const bool chase = !first.isDirect;
    first.releaseFollowUps();
    if (!chase) {
        state.SkipWithError("the arena gave no chase plan: the full decision was not measured");
        return;
    }
    for (auto _ : state) {
        Strategy plan = decidePlan(0.0f, snapshot, own);
        benchmark::DoNotOptimize(plan.windX);
        plan.releaseFollowUps();
    }
}
BENCHMARK(BM_DecidePlan);

// One decision on each of 512 seeded random scenarios in turn (every kind of
// tools/plan_scenarios.hpp: light, heavy, bouncing, chains, idle, evasion, push, busy), own paths
// predicted beforehand.
void BM_DecidePlanRandom(benchmark::State& state) {
    struct Case {
        scenarios::Scenario scenario;
        Trajectory own{1000};
    };
    std::vector<Case> cases(512);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        cases[i].scenario = scenarios::makeScenario(20261208u, i);
        cases[i].own.predict(cases[i].scenario.snapshot.tick, 500, cases[i].scenario.snapshot.own);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        const Case& c = cases[i];
        Strategy plan = decidePlan(c.scenario.tickDrift, c.scenario.snapshot, c.own);
        benchmark::DoNotOptimize(plan.windX);
        plan.releaseFollowUps();
        i = i + 1 == cases.size() ? 0 : i + 1;
    }
}
BENCHMARK(BM_DecidePlanRandom);

// As the control loop does it: a new 1000-slot buffer and a full prediction.
void BM_PredictFreshBuffer(benchmark::State& state) {
    const CloudState start{640.0f, 360.0f, 35.0f, -22.0f, 100.0f};
    for (auto _ : state) {
        Trajectory track(1000);
        benchmark::DoNotOptimize(track.predict(1234, 500, start));
        benchmark::DoNotOptimize(track.states.data());
    }
}
BENCHMARK(BM_PredictFreshBuffer);

// The integration alone: one buffer, a changed start state every time, so all 499 ticks are
// computed without allocation.
void BM_PredictRecompute(benchmark::State& state) {
    CloudState starts[2] = {{640.0f, 360.0f, 35.0f, -22.0f, 100.0f},
                            {640.0f, 360.0f, 35.5f, -22.0f, 100.0f}};
    Trajectory track(1000);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(track.predict(1234, 500, starts[i]));
        i ^= 1;
    }
}
BENCHMARK(BM_PredictRecompute);

}  // namespace
}  // namespace nimbus
