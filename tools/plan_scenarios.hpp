#pragma once
// Seeded random decision scenarios and a digest of every planning output made from them. Shared
// by nimbus-plan-digest, the random-snapshot benchmark and the bit-exactness test of the planner.
//
// A scenario is a snapshot, a tick drift and a small extra prediction task. Its digest covers the
// own trajectory (every slot, lastIndex, the counts predict returns), the extra prediction (a
// random capacity, count and tick, then repeated from the same and a changed state) and every
// field of every stage of decidePlan's plan (and of chooseTarget's plan when decidePlan evades).
// A scenario depends only on the seed and its index (a fixed generator, float roundings and the
// C library's sin and cos), so the same build machine gives the same scenarios on every build.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "arena/game/rng.hpp"
#include "bot/physics/trajectory.hpp"
#include "bot/physics/world_snapshot.hpp"
#include "bot/plan/decide.hpp"
#include "bot/plan/evasion.hpp"
#include "bot/plan/strategy.hpp"
#include "bot/plan/target.hpp"

namespace nimbus::scenarios {

// The arena's generator (splitmix64, fixed by its definition), with the draws scenarios take.
class Random {
  public:
    explicit Random(std::uint64_t seed) : rng_(seed) {}
    std::uint64_t next() { return rng_.next(); }
    // Uniform in [lo, hi), rounded to a float.
    float uniform(double lo, double hi) { return static_cast<float>(rng_.uniform(lo, hi)); }
    // Uniform integer in [lo, hi].
    std::int64_t between(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    bool chance(int percent) { return between(0, 99) < percent; }

  private:
    arena::Rng rng_;
};

// The kinds of scenario, chosen by index so that every kind is in every stretch of indices.
enum class Kind { Light, Heavy, Bouncing, Chains, Idle, Evasion, Push, Busy, Count };

struct Scenario {
    WorldSnapshot snapshot;
    float tickDrift = 0.0f;
    // The extra prediction task: a buffer of this capacity, predicted from extraTick for
    // extraCount ticks, then again for extraRecount ticks.
    std::int32_t extraCapacity = 1;
    std::int32_t extraTick = 0;
    std::int32_t extraCount = 0;
    std::int32_t extraRecount = 0;
};

inline Kind kindOf(std::uint64_t index) {
    return static_cast<Kind>(index % static_cast<std::uint64_t>(Kind::Count));
}

inline CloudState randomCloud(Random& random, double massLo, double massHi, double speed) {
    return CloudState{random.uniform(5.0, 1275.0), random.uniform(5.0, 715.0),
                      random.uniform(-speed, speed), random.uniform(-speed, speed),
                      random.uniform(massLo, massHi)};
}

// A tick near the int32 bound (at most 2000 below it, where the slot index jumps at the wrap)
// `percent` percent of the time, else from 0 to `high`.
inline std::int32_t randomTick(Random& random, int percent, std::int64_t high) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    return random.chance(percent) ? static_cast<std::int32_t>(kMax - random.between(0, 2000))
                                  : static_cast<std::int32_t>(random.between(0, high));
}

// How many rainclouds and rivals a scenario has, and the own cloud's mass and top speed.
struct Crowd {
    int rainclouds = 0;
    int rivals = 0;
    double own = 100.0;
    double ownSpeed = 15.0;
};

inline Crowd crowdOf(Random& random, Kind kind) {
    Crowd crowd;
    crowd.rainclouds = static_cast<int>(random.between(0, 20));
    crowd.rivals = static_cast<int>(random.between(0, 8));
    switch (kind) {
        case Kind::Light:
            crowd.own = random.uniform(2.0, 60.0);
            break;
        case Kind::Heavy:
            crowd.own = random.uniform(300.0, 3000.0);
            break;
        case Kind::Bouncing:
            crowd.ownSpeed = 70.0;
            crowd.own = random.uniform(20.0, 600.0);
            break;
        case Kind::Chains:
            crowd.ownSpeed = 45.0;
            crowd.own = random.uniform(200.0, 900.0);
            break;
        case Kind::Busy:
            crowd.rainclouds = 100;
            crowd.rivals = 8;
            crowd.own = random.uniform(150.0, 600.0);
            break;
        default:
            crowd.own = random.uniform(30.0, 400.0);
            break;
    }
    return crowd;
}

// Moves the own cloud close to a wall, heading for it.
inline void headForWall(Random& random, CloudState& own) {
    if (random.chance(50)) {
        own.x = random.chance(50) ? random.uniform(10.0, 80.0) : random.uniform(1200.0, 1270.0);
        own.vx = own.x < 640.0f ? -std::abs(own.vx) : std::abs(own.vx);
    } else {
        own.y = random.chance(50) ? random.uniform(10.0, 80.0) : random.uniform(640.0, 710.0);
        own.vy = own.y < 360.0f ? -std::abs(own.vy) : std::abs(own.vy);
    }
}

inline CloudState ownCloud(Random& random, Kind kind, const Crowd& crowd) {
    CloudState own = randomCloud(random, crowd.own, crowd.own, crowd.ownSpeed);
    own.mass = static_cast<float>(crowd.own);
    if (kind == Kind::Bouncing || kind == Kind::Chains)
        headForWall(random, own);
    return own;
}

// A cloud of 1 to 0.2..1.1 times the own cloud's mass: mostly lighter.
inline CloudState lighterCloud(Random& random, double ownMass, double speed) {
    return randomCloud(random, 1.0, ownMass * random.uniform(0.2, 1.1), speed);
}

// A cloud at least as heavy as the own one that moves with it: never a threat.
inline CloudState harmlessHeavy(Random& random, const CloudState& own) {
    const double ownMass = own.mass;
    CloudState c = randomCloud(random, ownMass, ownMass * 3.0, 0.0);
    c.vx = own.vx;
    c.vy = own.vy;
    return c;
}

// Slowly towards a wall on one axis, so that the bounce comes out slow; every other cloud moves
// with the own one.
inline void slowTowardsWall(Random& random, WorldSnapshot& w) {
    const float r = static_cast<float>(std::sqrt(double{w.own.mass}));
    const float speed = random.uniform(0.1, 0.9) * r;
    const float along = random.chance(50) ? speed : -speed;
    const float across = random.uniform(-0.3, 0.3) * r;
    const bool onX = random.chance(50);
    w.own.vx = onX ? along : across;
    w.own.vy = onX ? across : along;
    const double extent = onX ? kArenaWidth : kArenaHeight;
    const float near =
        along < 0.0f ? random.uniform(r, r + 40.0) : random.uniform(extent - 40.0 - r, extent - r);
    (onX ? w.own.x : w.own.y) = near;
    for (CloudState& c : w.rainclouds) {
        c.vx = w.own.vx;
        c.vy = w.own.vy;
    }
    for (CloudState& c : w.rivals) {
        c.vx = w.own.vx;
        c.vy = w.own.vy;
    }
}

// A heavy cloud aimed at the own one, a little to one side.
inline CloudState threatTo(Random& random, const CloudState& own) {
    const double ownMass = own.mass;
    const double angle = random.uniform(0.0, 6.283185307179586);
    const double distance = random.uniform(30.0, 500.0);
    const double speed = random.uniform(2.0, 40.0);
    const double side = random.uniform(-1.2, 1.2) * std::sqrt(ownMass);
    CloudState c;
    c.x = static_cast<float>(own.x + std::cos(angle) * distance - std::sin(angle) * side);
    c.y = static_cast<float>(own.y + std::sin(angle) * distance + std::cos(angle) * side);
    c.vx = static_cast<float>(own.vx - std::cos(angle) * speed);
    c.vy = static_cast<float>(own.vy - std::sin(angle) * speed);
    c.mass = static_cast<float>(ownMass * random.uniform(1.0, 2.5));
    return c;
}

// The other clouds around the own one, as the kind wants them.
inline void fillWorld(Random& random, Kind kind, const Crowd& crowd, WorldSnapshot& w) {
    const double ownMass = w.own.mass;
    switch (kind) {
        case Kind::Idle:
        case Kind::Push:
            for (int i = 0; i < crowd.rainclouds; ++i)
                w.rainclouds.push_back(harmlessHeavy(random, w.own));
            for (int i = 0; i < crowd.rivals; ++i)
                w.rivals.push_back(harmlessHeavy(random, w.own));
            if (kind == Kind::Push)
                slowTowardsWall(random, w);
            break;
        case Kind::Evasion: {
            for (int i = 0; i < crowd.rainclouds; ++i)
                w.rainclouds.push_back(lighterCloud(random, ownMass, 20.0));
            for (int i = 0; i < crowd.rivals; ++i)
                w.rivals.push_back(lighterCloud(random, ownMass, 20.0));
            const CloudState threat = threatTo(random, w.own);
            (random.chance(50) ? w.rainclouds : w.rivals).push_back(threat);
            break;
        }
        default:
            for (int i = 0; i < crowd.rainclouds; ++i)
                w.rainclouds.push_back(random.chance(85) ? lighterCloud(random, ownMass, 25.0)
                                                         : harmlessHeavy(random, w.own));
            for (int i = 0; i < crowd.rivals; ++i)
                w.rivals.push_back(random.chance(85) ? lighterCloud(random, ownMass, 25.0)
                                                     : harmlessHeavy(random, w.own));
            break;
    }
}

inline Scenario makeScenario(std::uint64_t seed, std::uint64_t index) {
    Random random(seed * 0x100000001b3ull ^
                  (index * 0x9e3779b97f4a7c15ull + 0x632be59bd9b4e019ull));
    Scenario sc;
    WorldSnapshot& w = sc.snapshot;
    w.tick = randomTick(random, 12, 5000000);
    sc.tickDrift = random.chance(8) ? random.uniform(-30.0, 700.0) : random.uniform(-1.5, 5.0);
    const Kind kind = kindOf(index);
    const Crowd crowd = crowdOf(random, kind);
    w.own = ownCloud(random, kind, crowd);
    fillWorld(random, kind, crowd, w);
    sc.extraCapacity = static_cast<std::int32_t>(random.chance(50) ? random.between(1, 60)
                                                                   : random.between(1, 1200));
    sc.extraTick = randomTick(random, 20, 100000);
    sc.extraCount = static_cast<std::int32_t>(random.between(-2, 1300));
    sc.extraRecount = static_cast<std::int32_t>(random.between(-2, 1300));
    return sc;
}

// 64-bit FNV-1a over the bit patterns of the values fed to it.
class Digest {
  public:
    void add(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            hash_ ^= (v >> (8 * i)) & 0xffu;
            hash_ *= 0x100000001b3ull;
        }
    }
    void add(std::int32_t v) { add(static_cast<std::uint32_t>(v)); }
    void add(float v) { add(std::bit_cast<std::uint32_t>(v)); }
    void add(bool v) { add(std::uint32_t{v}); }
    void add(std::uint64_t v) {
        add(static_cast<std::uint32_t>(v));
        add(static_cast<std::uint32_t>(v >> 32));
    }
    void add(const CloudState& c) {
        add(c.x);
        add(c.y);
        add(c.vx);
        add(c.vy);
        add(c.mass);
    }
    void add(const Trajectory& track) {
        add(track.capacity);
        add(track.lastIndex);
        for (const CloudState& c : track.states)
            add(c);
    }
    // Every field of every stage, top first.
    void add(const Strategy& plan) {
        for (const Strategy* stage = &plan; stage != nullptr; stage = stage->followUp) {
            add(stage->ownState);
            add(stage->startTick);
            add(stage->duration);
            add(stage->gain);
            add(stage->reserved);
            add(stage->depth);
            add(stage->windX);
            add(stage->windY);
            add(stage->targetState);
            add(stage->followUp != nullptr);
            add(static_cast<std::uint32_t>(stage->subPlans.size()));
            add(stage->spareFlag);
            add(stage->isDirect);
        }
    }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

// What decidePlan did, for the coverage counts.
enum class Outcome { Evasion, Chase, Chain, Push, Idle, Count };

struct Result {
    std::uint64_t digest = 0;
    Outcome outcome = Outcome::Idle;
    bool wraps = false;  // the 1000-tick window from the snapshot's tick passes the int32 bound
};

inline Result runScenario(const Scenario& sc) {
    Digest digest;
    const WorldSnapshot& w = sc.snapshot;

    Trajectory own(1000);
    digest.add(own.predict(w.tick, 500, w.own));
    digest.add(own);

    Trajectory extra(sc.extraCapacity);
    digest.add(extra.predict(sc.extraTick, sc.extraCount, w.own));
    digest.add(extra);
    digest.add(extra.predict(sc.extraTick, sc.extraRecount, w.own));
    digest.add(extra);
    CloudState changed = w.own;
    changed.vy = -changed.vy + 0.5f;
    digest.add(extra.predict(sc.extraTick, sc.extraRecount, changed));
    digest.add(extra);

    Result result;
    result.wraps = std::int64_t{w.tick} + 1000 > std::numeric_limits<std::int32_t>::max();
    Strategy plan = decidePlan(sc.tickDrift, w, own);
    digest.add(plan);
    const bool evaded = forecastCollision(w.own, w, 500).ticks != 0;
    if (evaded) {
        result.outcome = Outcome::Evasion;
        Strategy chase = chooseTarget(w, own, sc.tickDrift);
        digest.add(chase);
        chase.releaseFollowUps();
    } else if (!plan.isDirect) {
        result.outcome = plan.depth > 0 ? Outcome::Chain : Outcome::Chase;
    } else {
        result.outcome = plan.duration == 1 ? Outcome::Push : Outcome::Idle;
    }
    plan.releaseFollowUps();
    result.digest = digest.value();
    return result;
}

inline const char* outcomeName(Outcome o) {
    static const char* const names[] = {"evasion", "chase", "chain", "push", "idle"};
    return names[static_cast<int>(o)];
}

}  // namespace nimbus::scenarios
