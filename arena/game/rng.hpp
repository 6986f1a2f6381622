#pragma once
// The arena's random source: SplitMix64, fully specified, so a seed gives the same game on every
// platform and standard library (std distributions are implementation-defined, so we avoid them).
#include <cstdint>

namespace nimbus::arena {

class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    // The next 64 random bits.
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [lo, hi), from the top 53 bits.
    double uniform(double lo, double hi) {
        const double unit = static_cast<double>(next() >> 11) * 0x1.0p-53;
        return lo + (hi - lo) * unit;
    }

  private:
    std::uint64_t state_;
};

}  // namespace nimbus::arena
