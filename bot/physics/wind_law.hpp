#pragma once
// The wind law, for the arena that applies it and the planners that solve it. A wind (wx, wy) of
// strength s = sqrt(wx^2 + wy^2) changes its blower's velocity by (wx, wy) x 5 / sqrt(mass),
// taken before paying, and costs s mass. It is refused when a component is not finite or s
// exceeds half the blower's mass.
//
// Solved with the motion model (motion.hpp: position += 0.1 x velocity, velocity x 0.999 per
// tick): a wind of strength k blown at one tick moves a cloud of radius r = sqrt(mass)
// k x 500 x (1 - 0.999^n) / r further in n ticks.
//
// Everything here is inline: the planners call it in their inner loops. Each caller keeps its
// own roundings, bit for bit (WindRounding).
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "bot/physics/cloud_state.hpp"
#include "bot/physics/numeric.hpp"

namespace nimbus {

inline constexpr double kWindPush = 5.0;  // velocity change per unit of wind, times 1/sqrt(mass)
inline constexpr double kMaxWindShare = 0.5;  // the strongest wind allowed, as a share of the mass

// The wind's strength, sqrt(wx^2 + wy^2) in double precision.
inline double windStrengthDouble(float wx, float wy) {
    return std::sqrt(double(wx) * wx + double(wy) * wy);
}

// The wind's strength rounded to float: what the arena charges.
inline float windStrength(float wx, float wy) {
    return static_cast<float>(windStrengthDouble(wx, wy));
}

enum class WindFault { None, NotFinite, OverHalfTheMass };

// Why the law refuses the wind to a cloud of this mass, or None; nothing changes.
inline WindFault windFault(float mass, float wx, float wy) {
    if (!std::isfinite(wx) || !std::isfinite(wy))
        return WindFault::NotFinite;
    const float s = windStrength(wx, wy);
    if (!std::isfinite(s))
        return WindFault::NotFinite;
    if (static_cast<double>(s) > static_cast<double>(mass) * kMaxWindShare)
        return WindFault::OverHalfTheMass;
    return WindFault::None;
}

// How the velocity change v + w x 5 / sqrt(mass) is rounded.
enum class WindRounding {
    Double,       // in double, each component rounded to float once: the arena's law
    FloatSteps,   // sqrt(mass), 5 / root, factor x w and the sum each rounded to float: the
                  // faithful planner's float steps
    FloatFactor,  // 5 / sqrt(mass) rounded to float, then v + factor x w in double: the test
                  // server's
};

// Changes c's velocity by the wind (wx, wy), with the mass before paying; the mass stays.
inline void pushByWind(CloudState& c, float wx, float wy,
                       WindRounding rounding = WindRounding::Double) {
    switch (rounding) {
        case WindRounding::Double: {
            const double root = std::sqrt(static_cast<double>(c.mass));
            c.vx = static_cast<float>(c.vx + wx * kWindPush / root);
            c.vy = static_cast<float>(c.vy + wy * kWindPush / root);
            return;
        }
        case WindRounding::FloatSteps: {
            const float f = static_cast<float>(kWindPush / floatSqrt(c.mass));
            c.vx = static_cast<float>(c.vx + double(static_cast<float>(double(f) * wx)));
            c.vy = static_cast<float>(c.vy + double(static_cast<float>(double(f) * wy)));
            return;
        }
        case WindRounding::FloatFactor: {
            const float f = static_cast<float>(kWindPush / std::sqrt(static_cast<double>(c.mass)));
            c.vx = static_cast<float>(c.vx + double(f) * wx);
            c.vy = static_cast<float>(c.vy + double(f) * wy);
            return;
        }
    }
}

// Takes the wind's cost from c's mass: mass - strength in double, rounded to float.
inline void payForWind(CloudState& c, double strength) {
    c.mass = static_cast<float>(c.mass - strength);
}

// Blows an allowed wind (windFault None) on c as the arena does: the velocity change, then the
// strength rounded to float paid. A calm wind changes nothing and costs nothing (a weightless
// cloud included).
inline void blowWind(CloudState& c, float wx, float wy) {
    if (wx == 0.0f && wy == 0.0f)
        return;
    pushByWind(c, wx, wy);
    payForWind(c, windStrength(wx, wy));
}

// --- The law solved for the planners ---

// The strength of the wind that changes by `change` the velocity of a cloud whose sqrt(mass) is
// root: change x root / 5, in double.
inline double windStrengthForChange(double change, double root) {
    return change * root / kWindPush;
}

namespace detail {

inline constexpr std::int32_t kChaseShiftTableSize = 1024;

// (1 - 0.999^n) x 500 for n = 0 .. 1023, computed once, at compile time, with intPower.
constexpr std::array<double, kChaseShiftTableSize> makeChaseShiftTable() {
    std::array<double, kChaseShiftTableSize> table{};
    for (std::int32_t n = 0; n < kChaseShiftTableSize; ++n)
        table[static_cast<std::size_t>(n)] = (1.0 - intPower(0.999, n)) * 500.0;
    return table;
}

inline constexpr std::array<double, kChaseShiftTableSize> kChaseShiftTable = makeChaseShiftTable();

}  // namespace detail

// (1 - 0.999^n) x 500 with 0.999^n = intPower(0.999, n): the shift per unit of r x cost in n
// ticks. From a table for 0 <= n < 1024, the same values as computed directly.
inline double chaseShiftSum(std::int32_t n) {
    if (n >= 0 && n < detail::kChaseShiftTableSize)
        return detail::kChaseShiftTable[static_cast<std::size_t>(n)];
    return (1.0 - intPower(0.999, n)) * 500.0;
}

// Shift of a cloud after n ticks per unit of velocity-change rate: (1 - 0.999^n) x 1000.
inline double dampedShiftSum(std::int32_t n) {
    return (1.0 - intPower(0.999, n)) * 1000.0;
}

// The mass cost of the wind that moves a cloud of this radius `shift` further by the tick whose
// chaseShiftSum is shiftSum: r x shift / shiftSum in double; 0 when shift is not above 0.
inline double windCostForShift(double radius, double shift, double shiftSum) {
    return shift > 0.0 ? radius * shift / shiftSum : 0.0;
}

// How much further a wind of this cost moves a cloud of this radius by the tick whose
// chaseShiftSum is shiftSum: cost x shiftSum / r, the inverse of windCostForShift.
inline double windShiftForCost(double radius, double cost, double shiftSum) {
    return cost * shiftSum / radius;
}

// The faithful chase's cost of the puff that brings a target centre `distance` away onto the rim
// of a cloud of this radius: float(r (d - r) / shiftSum); 0 when d <= r.
inline float rimCatchCost(float radius, float distance, double shiftSum) {
    return static_cast<float>(
        windCostForShift(radius, double(distance) - double(radius), shiftSum));
}

// The distance beyond which a catch onto the rim costs more than cap for certain:
// r + windShiftForCost(r, cap (1 + 2e-6) + 1e-29, shiftSum). The margins dwarf every rounding of
// rimCatchCost.
inline double certainCatchReach(double radius, double cap, double shiftSum) {
    return radius + windShiftForCost(radius, cap * (1.0 + 2e-6) + 1e-29, shiftSum);
}

}  // namespace nimbus
