#pragma once
// How well the tick schedule is kept: the lateness of each tick-timer wake-up against the tick it
// was set for, and the largest number of ticks one wake-up had to catch up. Memory is fixed:
// lateness goes into 0.1 ms buckets up to one second, later ones into the last bucket.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "arena/game/results.hpp"

namespace nimbus::arena {

class TickStats {
  public:
    void record(std::chrono::nanoseconds lateness, std::int64_t ticksRun) {
        const std::int64_t tenths = lateness.count() > 0 ? lateness.count() / 100000 : 0;
        ++buckets_[static_cast<std::size_t>(tenths < kBuckets - 1 ? tenths : kBuckets - 1)];
        ++count_;
        maxLateness_ = std::max(maxLateness_, lateness);
        largestBurst_ = std::max(largestBurst_, ticksRun);
    }

    // The lateness (milliseconds) below which the fraction q of wake-ups fell (0 when none).
    double percentileMs(double q) const {
        std::int64_t seen = 0;
        for (std::size_t i = 0; i < buckets_.size(); ++i) {
            seen += buckets_[i];
            if (count_ > 0 && static_cast<double>(seen) >= q * static_cast<double>(count_)) {
                return static_cast<double>(i + 1) / 10.0;
            }
        }
        return 0.0;
    }
    double maxMs() const { return std::chrono::duration<double, std::milli>(maxLateness_).count(); }
    std::int64_t largestBurst() const { return largestBurst_; }

    // The figures for the results; none when no wake-up was recorded (an unpaced game).
    std::optional<PacingFigures> pacing() const {
        if (count_ == 0) {
            return std::nullopt;
        }
        return PacingFigures{percentileMs(0.5), percentileMs(0.99), maxMs(), largestBurst_};
    }

    // "tick lag p50 0.1 ms, p99 0.4 ms, max 2.3 ms, largest catch-up 2 ticks"
    std::string summary() const {
        char text[160];
        std::snprintf(text, sizeof text,
                      "tick lag p50 %.1f ms, p99 %.1f ms, max %.1f ms, largest catch-up %lld ticks",
                      percentileMs(0.5), percentileMs(0.99), maxMs(),
                      static_cast<long long>(largestBurst_));
        return text;
    }

  private:
    static constexpr std::int64_t kBuckets = 10000;
    std::array<std::int64_t, kBuckets> buckets_{};
    std::int64_t count_ = 0;
    std::chrono::nanoseconds maxLateness_{0};
    std::int64_t largestBurst_ = 0;
};

}  // namespace nimbus::arena
