#include "arena/game/builtin_player.hpp"

#include <cmath>

#include "bot/physics/numeric.hpp"
#include "bot/physics/wind_law.hpp"

namespace nimbus::arena {

namespace {

constexpr std::int32_t kPeriod = 6;   // ticks between two decisions
constexpr double kCruiseSpeed = 6.0;  // velocity units (0.1 x this per tick)
constexpr double kFleeSpeed = 20.0;
constexpr double kMaxShareOfMass = 0.02;  // the most one wind may cost
constexpr double kMinChange = 2.5;        // smaller velocity corrections are not worth a wind
constexpr double kThreatMargin = 120.0;   // distance beyond a heavier cloud's edge that alarms
constexpr double kSearchRadius = 600.0;

struct Vec {
    double x;
    double y;
};

double length(Vec v) {
    return std::sqrt(v.x * v.x + v.y * v.y);
}

// The wind that turns velocity `now` toward `wanted`, capped to what the mass affords.
std::optional<Wind> windToward(const CloudState& own, Vec wanted) {
    const Vec change{wanted.x - own.vx, wanted.y - own.vy};
    const double size = length(change);
    if (size < kMinChange) {
        return std::nullopt;
    }
    const double root = std::sqrt(static_cast<double>(own.mass));
    double strength = windStrengthForChange(size, root);
    const double cap = own.mass * kMaxShareOfMass;
    if (strength > cap) {
        strength = cap;
    }
    return Wind{static_cast<float>(change.x / size * strength),
                static_cast<float>(change.y / size * strength)};
}

// The nearest heavier cloud that is closing in (or already within 30 of touching), within
// kThreatMargin of our centre beyond its edge; nullptr when none.
const CloudState* closingThreat(const Game& game, const Cloud& mine) {
    const CloudState& own = mine.state;
    const CloudState* threat = nullptr;
    double threatGap = kThreatMargin;
    for (const Cloud& c : game.clouds()) {
        if (c.id == mine.id || !(c.state.mass > own.mass)) {
            continue;
        }
        const Vec d{own.x - static_cast<double>(c.state.x), own.y - static_cast<double>(c.state.y)};
        const Vec closing{static_cast<double>(c.state.vx) - own.vx,
                          static_cast<double>(c.state.vy) - own.vy};
        const double gap = length(d) - floatSqrt(c.state.mass);
        if (gap < threatGap && (d.x * closing.x + d.y * closing.y > 0.0 || gap < 30.0)) {
            threat = &c.state;
            threatGap = gap;
        }
    }
    return threat;
}

// Straight away from the threat at flee speed.
std::optional<Wind> fleeWind(const CloudState& own, const CloudState& threat) {
    Vec away{own.x - static_cast<double>(threat.x), own.y - static_cast<double>(threat.y)};
    const double len = length(away);
    if (len > 0.0) {
        away = {away.x / len * kFleeSpeed, away.y / len * kFleeSpeed};
    } else {
        away = {kFleeSpeed, 0.0};
    }
    return windToward(own, away);
}

// The lighter cloud within kSearchRadius with the best mass per distance; nullptr when none.
const CloudState* bestPrey(const Game& game, const Cloud& mine) {
    const CloudState& own = mine.state;
    const CloudState* best = nullptr;
    double bestScore = 0.0;
    for (const Cloud& c : game.clouds()) {
        if (c.id == mine.id || !(c.state.mass < own.mass)) {
            continue;
        }
        const double dist = std::hypot(static_cast<double>(c.state.x) - own.x,
                                       static_cast<double>(c.state.y) - own.y);
        if (dist > kSearchRadius) {
            continue;
        }
        const double score = c.state.mass / (dist + 50.0);
        if (score > bestScore) {
            bestScore = score;
            best = &c.state;
        }
    }
    return best;
}

// Toward where the prey will be, at cruise speed: its velocity led by half the time it takes to
// get there.
std::optional<Wind> chaseWind(const CloudState& own, const CloudState& prey) {
    const double dist =
        std::hypot(static_cast<double>(prey.x) - own.x, static_cast<double>(prey.y) - own.y);
    const double lead = dist / (0.1 * kCruiseSpeed);  // ticks to get there at cruise speed
    const Vec aim{prey.x + 0.1 * prey.vx * lead * 0.5 - own.x,
                  prey.y + 0.1 * prey.vy * lead * 0.5 - own.y};
    const double len = length(aim);
    if (len <= 0.0) {
        return std::nullopt;
    }
    return windToward(own, {aim.x / len * kCruiseSpeed, aim.y / len * kCruiseSpeed});
}

// Every kPeriod ticks: flee the nearest heavier cloud that closes in, else chase the best prey,
// else drift (braking would cost mass).
std::optional<Wind> greedyWind(const Game& game, std::int32_t player) {
    const Cloud* mine = game.thunderstorm(player);
    if (mine == nullptr || (game.tick() + player) % kPeriod != 0) {
        return std::nullopt;
    }
    if (const CloudState* threat = closingThreat(game, *mine)) {
        return fleeWind(mine->state, *threat);
    }
    if (const CloudState* prey = bestPrey(game, *mine)) {
        return chaseWind(mine->state, *prey);
    }
    return std::nullopt;
}

}  // namespace

bool looksBuiltin(std::string_view spec) {
    return spec.starts_with("builtin:");
}

std::optional<BuiltinKind> parseBuiltin(std::string_view spec) {
    if (spec == "builtin:idle") {
        return BuiltinKind::Idle;
    }
    if (spec == "builtin:greedy") {
        return BuiltinKind::Greedy;
    }
    return std::nullopt;
}

std::string builtinName(BuiltinKind kind) {
    return kind == BuiltinKind::Idle ? "idle" : "greedy";
}

std::optional<Wind> builtinWind(BuiltinKind kind, const Game& game, std::int32_t player) {
    if (kind == BuiltinKind::Idle) {
        return std::nullopt;
    }
    return greedyWind(game, player);
}

}  // namespace nimbus::arena
