// nimbus-plan-digest: plans N seeded random scenarios and prints a digest of every output (the
// own trajectory, an extra prediction, every stage of the decided plan). Two builds that print
// the same final digest for the same seed and count made the same decisions to the bit.
//
//   nimbus-plan-digest [--seed S] [--count N] [--first I] [--each]
//     --each    also prints "index digest outcome" for every scenario
//   nimbus-plan-digest --show I [--seed S]
//     prints scenario I: its inputs and its digest, for tracking down a difference
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/plan_scenarios.hpp"

namespace {

using namespace nimbus;
using namespace nimbus::scenarios;

void printCloud(const char* label, const CloudState& c) {
    std::printf("%s %a %a %a %a %a\n", label, double(c.x), double(c.y), double(c.vx), double(c.vy),
                double(c.mass));
}

void printStages(const Strategy& plan) {
    int level = 0;
    for (const Strategy* s = &plan; s != nullptr; s = s->followUp, ++level) {
        std::printf("stage %d: start %d duration %d gain %a depth %d wind %a %a direct %d\n", level,
                    s->startTick, s->duration, double(s->gain), s->depth, double(s->windX),
                    double(s->windY), int(s->isDirect));
        printCloud("  own", s->ownState);
        printCloud("  target", s->targetState);
    }
}

int show(std::uint64_t seed, std::uint64_t index) {
    const Scenario sc = makeScenario(seed, index);
    std::printf("scenario %" PRIu64 " seed %" PRIu64 " kind %d tick %d drift %a\n", index, seed,
                int(kindOf(index)), sc.snapshot.tick, double(sc.tickDrift));
    printCloud("own", sc.snapshot.own);
    for (const CloudState& c : sc.snapshot.rainclouds)
        printCloud("raincloud", c);
    for (const CloudState& c : sc.snapshot.rivals)
        printCloud("rival", c);
    std::printf("extra capacity %d tick %d count %d recount %d\n", sc.extraCapacity, sc.extraTick,
                sc.extraCount, sc.extraRecount);
    Trajectory own(1000);
    own.predict(sc.snapshot.tick, 500, sc.snapshot.own);
    Strategy plan = decidePlan(sc.tickDrift, sc.snapshot, own);
    printStages(plan);
    plan.releaseFollowUps();
    const Result r = runScenario(sc);
    std::printf("digest %016" PRIx64 " %s\n", r.digest, outcomeName(r.outcome));
    return 0;
}

bool readNumber(int argc, char** argv, int& i, std::uint64_t& out) {
    if (i + 1 >= argc)
        return false;
    char* end = nullptr;
    out = std::strtoull(argv[++i], &end, 10);
    return end != argv[i] && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    std::uint64_t count = 100000;
    std::uint64_t first = 0;
    std::uint64_t showIndex = 0;
    bool each = false;
    bool showOne = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool ok = true;
        if (arg == "--seed")
            ok = readNumber(argc, argv, i, seed);
        else if (arg == "--count")
            ok = readNumber(argc, argv, i, count);
        else if (arg == "--first")
            ok = readNumber(argc, argv, i, first);
        else if (arg == "--show")
            ok = showOne = readNumber(argc, argv, i, showIndex);
        else if (arg == "--each")
            each = true;
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr,
                         "usage: nimbus-plan-digest [--seed S] [--count N] [--first I] [--each]\n"
                         "       nimbus-plan-digest --show I [--seed S]\n");
            return 2;
        }
    }
    if (showOne)
        return show(seed, showIndex);

    Digest combined;
    std::uint64_t outcomes[static_cast<int>(Outcome::Count)] = {};
    std::uint64_t wraps = 0;
    if (each)
        std::printf("seed %" PRIu64 "\n", seed);
    for (std::uint64_t index = first; index < first + count; ++index) {
        const Result r = runScenario(makeScenario(seed, index));
        combined.add(r.digest);
        ++outcomes[static_cast<int>(r.outcome)];
        wraps += r.wraps;
        if (each)
            std::printf("%" PRIu64 " %016" PRIx64 " %s\n", index, r.digest, outcomeName(r.outcome));
    }
    std::printf("seed %" PRIu64 " scenarios %" PRIu64 "..%" PRIu64 ":", seed, first,
                first + count - 1);
    for (int o = 0; o < static_cast<int>(Outcome::Count); ++o)
        std::printf(" %s %" PRIu64, outcomeName(static_cast<Outcome>(o)), outcomes[o]);
    std::printf(" wrap %" PRIu64 "\ndigest %016" PRIx64 "\n", wraps, combined.value());
    return 0;
}
