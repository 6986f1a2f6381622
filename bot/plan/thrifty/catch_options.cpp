#include "bot/plan/thrifty/catch_options.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "bot/physics/motion.hpp"
#include "bot/physics/numeric.hpp"
#include "bot/physics/wind_law.hpp"
#include "bot/plan/planner.hpp"

namespace nimbus {

namespace {

// The own path holds kOwnPathTicks ticks from the snapshot's tick; its last slots are not read.
constexpr std::int32_t kOwnTicks = kOwnPathTicks - 4;
// Catch ticks are tried every kStep ticks, then one by one around the best of those.
constexpr std::int32_t kStep = 4;
// A weaker wind is not blown: the free path is as good.
constexpr double kSmallestWind = 0.05;

// A raincloud lighter than the own cloud, with the best score it could reach (its whole mass,
// caught at once), so that the search can stop once no target left can enter the best kept.
struct Target {
    double bound;
    std::int32_t cloud;
    double mass;
};

// The lighter rainclouds at offset k0, not gone, highest bound first.
std::vector<Target> targetsByBound(const CloudPaths& paths, const CloudState& start,
                                   std::int32_t k0, const CatchRules& rules,
                                   std::span<const std::int32_t> gone) {
    std::vector<Target> targets;
    for (std::int32_t c = 0; c < paths.clouds(); ++c) {
        if (std::find(gone.begin(), gone.end(), c) != gone.end())
            continue;
        const double mass = paths.at(c, k0).mass;
        if (!paths.isRival(c) && start.mass > mass)
            targets.push_back({mass / (1.0 + rules.overheadTicks), c, mass});
    }
    std::sort(targets.begin(), targets.end(),
              [](const Target& a, const Target& b) { return a.bound > b.bound; });
    return targets;
}

// The search for one target's best catch tick: tries catches n ticks after t, keeping the best.
class CatchSearch {
  public:
    CatchSearch(const CloudPaths& paths, const Trajectory& own, const CloudState& start,
                std::int32_t t, std::int32_t k0, const CatchRules& rules, const Target& target)
        : paths_(paths),
          own_(own),
          start_(start),
          t_(t),
          k0_(k0),
          rules_(rules),
          target_(target),
          r_(floatSqrt(start.mass)),
          // The most the wind may cost: its share of the mass, and the bot must stay heavier.
          most_(std::min(rules.maxWindShare * start.mass, start.mass - target.mass)),
          best_{-std::numeric_limits<double>::infinity(), target.cloud, 0.0f, 0.0f} {}

    // Every kStep-th tick up to lastN, then each tick around the best of those.
    CatchOption run(std::int32_t lastN) {
        bool stop = false;
        for (std::int32_t n = 1; n <= lastN && !stop; n += kStep)
            tryCatch(n, stop);
        const std::int32_t around = bestN_;
        for (std::int32_t n = std::max(1, around - kStep + 1);
             around > 0 && n <= std::min(lastN, around + kStep - 1); ++n) {
            bool ignored = false;
            if (n != around)
                tryCatch(n, ignored);
        }
        return best_;
    }

  private:
    // Tries the catch n ticks after t; sets stop when no later catch can do better.
    void tryCatch(std::int32_t n, bool& stop) {
        if (target_.mass / (n + rules_.overheadTicks) <= best_.score) {
            stop = true;  // later catches score less even for free
            return;
        }
        const CloudState& o = own_.stateAt(tickAfter(t_, n));
        if (velocityReversed(o, start_.vx, start_.vy)) {
            stop = true;  // the own free path bounced
            return;
        }
        const CloudState& c = paths_.at(target_.cloud, k0_ + n);
        if (!(c.mass > 0.0f)) {
            stop = true;  // another cloud swallowed it
            return;
        }
        const double dx = double(c.x) - o.x;
        const double dy = double(c.y) - o.y;
        const double q = dx * dx + dy * dy;
        const double shiftSum = chaseShiftSum(n);
        const double reach = rules_.aim * r_ + windShiftForCost(r_, most_, shiftSum);
        if (q > reach * reach)
            return;  // too far for what the wind may cost
        const double d = std::sqrt(q);
        const double shift = d - rules_.aim * r_;
        const double cost = windCostForShift(r_, shift, shiftSum);
        if (cost > most_ || !(start_.mass - cost > target_.mass))
            return;
        const double score = (target_.mass - rules_.windWeight * cost) / (n + rules_.overheadTicks);
        if (score > best_.score) {
            best_.score = score;
            bestN_ = n;
            const bool blow = shift > 0.0 && cost >= kSmallestWind;
            best_.windX = blow ? static_cast<float>(dx / d * cost) : 0.0f;
            best_.windY = blow ? static_cast<float>(dy / d * cost) : 0.0f;
        }
    }

    const CloudPaths& paths_;
    const Trajectory& own_;
    const CloudState& start_;
    std::int32_t t_;
    std::int32_t k0_;
    const CatchRules& rules_;
    const Target& target_;
    double r_;
    double most_;
    CatchOption best_;
    std::int32_t bestN_ = 0;
};

// The best `keep` scores so far, as a min-heap: the lowest of them on top.
class KeptScores {
  public:
    explicit KeptScores(std::size_t keep) : keep_(keep) {}
    // Whether no score at most `bound` can enter the best kept any more.
    bool full(double bound) const {
        return keep_ == 0 || (scores_.size() >= keep_ && bound <= scores_.front());
    }
    void add(double score) {
        scores_.push_back(score);
        std::push_heap(scores_.begin(), scores_.end(), std::greater<>());
        if (scores_.size() > keep_) {
            std::pop_heap(scores_.begin(), scores_.end(), std::greater<>());
            scores_.pop_back();
        }
    }

  private:
    std::size_t keep_;
    std::vector<double> scores_;
};

}  // namespace

std::vector<CatchOption> cheapestCatches(const CloudPaths& paths, const Trajectory& own,
                                         const CloudState& start, std::int32_t t, std::int32_t k0,
                                         const CatchRules& rules, std::size_t keep,
                                         std::span<const std::int32_t> gone) {
    const std::int32_t lastN = std::min(paths.horizon(), kOwnTicks) - k0;
    std::vector<CatchOption> options;
    KeptScores kept(keep);
    for (const Target& target : targetsByBound(paths, start, k0, rules, gone)) {
        if (kept.full(target.bound))
            break;
        const CatchOption best = CatchSearch(paths, own, start, t, k0, rules, target).run(lastN);
        if (best.score > 0.0 || (rules.keepLosing && std::isfinite(best.score))) {
            options.push_back(best);
            kept.add(best.score);
        }
    }
    std::sort(options.begin(), options.end(),
              [](const CatchOption& a, const CatchOption& b) { return a.score > b.score; });
    if (options.size() > keep)
        options.resize(keep);
    return options;
}

}  // namespace nimbus
