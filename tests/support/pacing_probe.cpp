// nimbus-pacing-probe: drills the real nimbus-bot against the test game server (port 1986,
// 16 ms ticks, real time) and prints how well it keeps time:
//   - the lag from a state reply to the WIND of an immediate evasion,
//   - how far timed winds (post-bounce pushes) arrive from the tick they were planned for,
//   - the bot's CPU time over a long game in a busy world.
// Usage: nimbus-pacing-probe [BOT] [--rounds N] [--game-seconds S]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bot/physics/motion.hpp"
#include "tests/support/run_process.hpp"
#include "tests/support/sim_server.hpp"

namespace {

using namespace nimbus;
using namespace nimbus::testing;
using Clock = std::chrono::steady_clock;

SimServer::StopRule afterWinds(int count) {
    return [count](const std::vector<SimEntry>& log) { return countLines(log, "WIND") >= count; };
}

template <typename T>
void printSpread(const char* what, std::vector<T> v, const char* unit) {
    if (v.empty()) {
        std::printf("%s: no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    std::printf("%s over %zu: median %g %s, mean %.2f, min %g, p90 %g, max %g\n", what, v.size(),
                static_cast<double>(v[v.size() / 2]), unit, mean, static_cast<double>(v.front()),
                static_cast<double>(v[v.size() * 9 / 10]), static_cast<double>(v.back()));
}

// Every round the bot sees the worked collision course and must evade at once.
void evasionDrill(const std::string& bot, int rounds) {
    SimWorld start;
    start.own = CloudState{640, 360, 0, 0, 100};
    start.rainclouds.push_back(CloudState{440, 365, 20, 0, 144});
    SimServer server(start, realTimeSource(), afterWinds(rounds), 1986);
    bool blown = false;
    server.setHook([&](SimWorld& w, const SimEntry& e) {
        if (e.line.rfind("WIND", 0) == 0)
            blown = true;
        if (e.line == "GET_STATE" && blown) {
            w.own = start.own;
            w.rainclouds = start.rainclouds;
            blown = false;
        }
    });
    runProcess(bot, {}, std::chrono::seconds(120));
    server.join();
    const auto log = server.log();
    std::vector<double> lagUs;
    for (size_t i = 1; i < log.size(); ++i) {
        if (log[i].line.rfind("WIND", 0) == 0 && log[i - 1].line == "GET_STATE") {
            lagUs.push_back(
                std::chrono::duration<double, std::micro>(log[i].at - log[i - 1].at).count());
        }
    }
    printSpread("state reply -> evasion WIND lag", lagUs, "us");
}

// Every round the bot drifts slowly into the left wall: it plans a push at the bounce tick.
void pushDrill(const std::string& bot, int rounds) {
    SimWorld start;
    start.own = CloudState{40, 360, -6, 0, 100};
    CloudState probe = start.own;
    std::int32_t ticksToBounce = 0;
    do {
        moveOneTick(probe);
        ++ticksToBounce;
    } while (probe.vx < 0);

    SimServer server(start, realTimeSource(), afterWinds(rounds), 1986);
    bool blown = false;
    std::int32_t plannedTick = ticksToBounce;  // the world starts at tick 0
    std::vector<std::int32_t> offsets;
    server.setHook([&](SimWorld& w, const SimEntry& e) {
        if (e.line.rfind("WIND", 0) == 0) {
            offsets.push_back(e.tick - plannedTick);
            blown = true;
        }
        if (e.line == "GET_STATE" && blown) {
            w.own = start.own;
            plannedTick = w.tick + ticksToBounce;
            blown = false;
        }
    });
    runProcess(bot, {}, std::chrono::seconds(300));
    server.join();
    printSpread("timed push: arrival tick - planned tick", offsets, "ticks");
    int early = 0, onTime = 0, late = 0;
    for (auto o : offsets)
        (o < 0 ? early : o == 0 ? onTime : late)++;
    std::printf("  early %d, on the tick %d, late %d\n", early, onTime, late);
}

// A long game in a busy world; prints the bot's CPU time.
void cpuDrill(const std::string& bot, int seconds) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> x(60, 1220), y(60, 660), v(-8, 8), m(4, 64);
    SimWorld world;
    world.own = CloudState{640, 360, 0, 0, 100};
    for (int i = 0; i < 7; ++i)
        world.rivals.push_back(CloudState{x(rng), y(rng), 0, 0, 100});
    for (int i = 0; i < 40; ++i)
        world.rainclouds.push_back(CloudState{x(rng), y(rng), v(rng), v(rng), m(rng)});
    const std::int64_t limitMs = std::int64_t{seconds} * 1000;
    SimServer server(
        world, realTimeSource(),
        [limitMs](const std::vector<SimEntry>& log) { return log.back().timeMs > limitMs; }, 1986);
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto result = runProcess(bot, {}, std::chrono::seconds(seconds + 60));
    getrusage(RUSAGE_CHILDREN, &after);
    server.join();
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    const double user = ms(after.ru_utime) - ms(before.ru_utime);
    const double sys = ms(after.ru_stime) - ms(before.ru_stime);
    const auto log = server.log();
    std::printf(
        "busy %d s game: bot CPU %.0f ms user + %.0f ms sys over %.1f s wall (%.2f%% of a core);"
        " %d state requests, %d winds\n",
        seconds, user, sys, result.elapsed.count() / 1000.0,
        100.0 * (user + sys) / static_cast<double>(result.elapsed.count()),
        countLines(log, "GET_STATE"), countLines(log, "WIND"));
}

}  // namespace

int main(int argc, char** argv) {
    std::string bot = NIMBUS_BOT_PATH;
    int rounds = 25;
    int seconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--game-seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            bot = argv[i];
        }
    }
    std::printf("bot: %s\n", bot.c_str());
    evasionDrill(bot, rounds);
    pushDrill(bot, rounds);
    cpuDrill(bot, seconds);
    return 0;
}
