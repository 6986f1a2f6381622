// Decision time of every strategy on busy arenas: 8 rivals and 100 rainclouds, the own cloud
// anywhere from light to heavy, so that chases, threats and escapes all occur. Each decision is
// timed on its own; the counters give the median, the 99th percentile and the worst, in ms, of
// the thread's CPU time (the work itself: on a shared machine the wall time also counts the
// time other processes took) and the p99 of the wall time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "tools/plan_scenarios.hpp"
#include "bot/physics/trajectory.hpp"
#include "bot/plan/planner.hpp"

namespace nimbus {
namespace {

struct Arena {
    WorldSnapshot snapshot;
    Trajectory own{kOwnPathCapacity};
};

// Seeded: the same arenas every run.
std::vector<Arena> busyArenas(std::size_t count) {
    scenarios::Random random(20261208u);
    std::vector<Arena> arenas(count);
    for (Arena& a : arenas) {
        WorldSnapshot& s = a.snapshot;
        s.tick = static_cast<std::int32_t>(random.between(10, 3500));
        const float mass = random.uniform(40.0, 600.0);
        const float r = std::sqrt(mass);
        s.own = {random.uniform(r, 1280.0 - r), random.uniform(r, 720.0 - r),
                 random.uniform(-15.0, 15.0), random.uniform(-15.0, 15.0), mass};
        for (int i = 0; i < 8; ++i)
            s.rivals.push_back({random.uniform(20.0, 1260.0), random.uniform(20.0, 700.0),
                                random.uniform(-20.0, 20.0), random.uniform(-20.0, 20.0),
                                random.uniform(20.0, 500.0)});
        for (int i = 0; i < 100; ++i)
            s.rainclouds.push_back({random.uniform(10.0, 1270.0), random.uniform(10.0, 710.0),
                                    random.uniform(-5.0, 5.0), random.uniform(-5.0, 5.0),
                                    random.uniform(4.0, 120.0)});
        a.own.predict(s.tick, kOwnPathTicks, s.own);
    }
    return arenas;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// The value below which a share q of the sorted values lie.
double quantile(const std::vector<double>& sorted, double q) {
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(q * sorted.size()))];
}

void BM_StrategyDecision(benchmark::State& state, const std::string& name) {
    const std::vector<Arena> arenas = busyArenas(400);
    const std::unique_ptr<Planner> planner = makePlanner(name);
    std::vector<double> cpu;
    std::vector<double> wall;
    std::size_t i = 0;
    for (auto _ : state) {
        const Arena& a = arenas[i];
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadCpuMs();
        Strategy plan = planner->decide(0.0f, a.snapshot, a.own);
        cpu.push_back(threadCpuMs() - cpuStart);
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        benchmark::DoNotOptimize(plan.windX);
        plan.releaseFollowUps();
        i = i + 1 == arenas.size() ? 0 : i + 1;
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    state.counters["cpu_p50_ms"] = quantile(cpu, 0.5);
    state.counters["cpu_p99_ms"] = quantile(cpu, 0.99);
    state.counters["cpu_max_ms"] = cpu.back();
    state.counters["wall_p99_ms"] = quantile(wall, 0.99);
}

// One benchmark per strategy, registered before main runs them.
const bool kRegistered = [] {
    for (const std::string& name : strategyNames())
        benchmark::RegisterBenchmark(("BM_StrategyDecision/" + name).c_str(),
                                     [name](benchmark::State& s) { BM_StrategyDecision(s, name); })
            ->Iterations(2000);
    return true;
}();

}  // namespace
}  // namespace nimbus
