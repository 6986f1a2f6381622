#include "bot/plan/keen/keen_planner.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "bot/physics/trajectory.hpp"
#include "bot/physics/wind_law.hpp"
#include "bot/plan/thrifty/catch_options.hpp"
#include "bot/plan/thrifty/cloud_paths.hpp"
#include "bot/plan/thrifty/escape_wind.hpp"
#include "bot/plan/thrifty/path_plans.hpp"
#include "bot/plan/thrifty/path_sim.hpp"

namespace nimbus {

namespace {

// Ticks of every cloud's free path looked at: kLongHorizon while the clouds followed times the
// ticks stay within kCloudTicks (a decision's time grows with both), fewer in a crowded arena but
// never below kShortHorizon. Of a crowded arena the kMostClouds nearest are followed.
constexpr std::int32_t kLongHorizon = 700;
constexpr std::int32_t kShortHorizon = 500;
constexpr std::int32_t kCloudTicks = 64 * kLongHorizon;
constexpr std::int32_t kMostClouds = 160;
// The other clouds swallow each other on their predicted paths: a raincloud that a rival or a
// heavier raincloud meets is gone from then on, and the swallower heavier.
constexpr bool kSwallows = true;
// The catches (CatchRules): a catch counts 60 ticks more than it takes, so that a slower,
// cheaper catch is not ruled out by a faster dear one; wind counts at its whole cost. A catch
// that does not pay on its own is simulated too: its wind may pay with what it catches on the way.
constexpr CatchRules kCatchRules{60.0, 1.0, 0.5, 0.4, true};
// With a single rival left every raincloud not caught goes to it, so wind counts for less.
constexpr double kOneRivalWindWeight = 0.8;
// The cheapest catches simulated with their winds as found; the kRefined best of those paths
// again with their winds kWindScales times as strong.
constexpr std::size_t kSimulated = 10;
constexpr std::size_t kRefined = 4;
constexpr double kWindScales[] = {0.55, 0.75, 0.9, 1.15, 1.4, 1.9};
// The best paths with different first catches are looked at further: each is cut at its first
// catch and followed by a second wind, towards one of the kSecondWinds cheapest catches from
// there; of these kFollowedUp the one whose better continuation scores best is chosen. The own
// free path after the first catch is predicted as the control loop predicts the own path.
constexpr std::size_t kFollowedUp = 4;
constexpr std::size_t kSecondWinds = 2;
// A heavier raincloud is too close within its radius plus this share of the own radius; a
// heavier rival within its radius alone: where its drifting path would swallow the own cloud. A
// wider margin kept keen off the rainclouds near a heavier rival, which mostly never steers at it.
constexpr double kRainMargin = 0.3;
constexpr double kRivalMargin = 0.0;
// A target that a heavier rival could catch first, for a wind of this share of the target's mass,
// is left to it.
constexpr double kRivalTakeShare = 0.2;
// A danger further ahead than this is not acted on: the clouds will have moved otherwise.
constexpr std::int32_t kThreatTicks = 200;

// A path the own cloud can take: the wind that starts it and what the simulation says follows.
struct Choice {
    double score = -std::numeric_limits<double>::infinity();
    Wind wind{0.0f, 0.0f};
    PathOutcome outcome;
};

class KeenPlanner final : public Planner {
  public:
    Strategy decide(float tickDrift, const WorldSnapshot& snapshot, const Trajectory& own) override;

  private:
    // The net mass won per tick along a simulated path: what it swallows (rivals not counted,
    // they steer away) less the wind, over the ticks to its last catch and the overhead.
    double scoreOf(const PathOutcome& o, std::int32_t k0) const {
        return (o.value - rules_.windWeight * o.spent) /
               ((o.lastCatch - k0) + rules_.overheadTicks);
    }
    static bool unsafe(const PathOutcome& o, std::int32_t k0) {
        return o.danger >= 0 && o.danger - k0 <= kThreatTicks;
    }
    std::int32_t rivalCount() const;
    bool rivalTakesFirst(std::int32_t cloud, std::int32_t k0, std::int32_t by) const;
    // Keeps the path of wind w in best when it is safe, catches and scores more; every such
    // path with a positive score is also kept in offered_.
    void offer(const PathOutcome& out, std::int32_t k0, Wind w, Choice& best);
    // Simulates wind w blown at `at` and offers its path; returns its score whether offered or
    // not, -infinity when it catches nothing.
    double tryWind(PathSimulator& sim, const PathStart& at, Wind w, float rainMargin, Choice& best);
    // The winds of the kSimulated cheapest catches, then the kRefined best of those paths again
    // with their winds scaled by kWindScales (within the wind share).
    void searchWinds(PathSimulator& sim, const PathStart& at, const Trajectory& own,
                     float rainMargin, Choice& best);
    // The score of choice c's path cut at its first catch and continued by the best of the
    // kSecondWinds second winds from there (the net mass of both over the ticks to the last
    // catch), or c's own score when that is more.
    double withSecondWind(PathSimulator& sim, const PathStart& at, const Choice& c,
                          float rainMargin);
    // Of the kFollowedUp best offered paths with different first catches, the one that scores
    // best with its second wind; `best` when none was offered.
    Choice followedUp(PathSimulator& sim, const PathStart& at, float rainMargin,
                      const Choice& best);

    CatchRules rules_ = kCatchRules;  // this decision's: kCatchRules, or with one rival left
    std::vector<Choice> offered_;     // this decision's safe paths with a positive score
    CloudPaths paths_;                // kept from one decision to the next for its storage only
    Trajectory afterCatch_{kOwnPathCapacity};  // the own free path after a first catch
};

// The ticks looked ahead in this snapshot's arena (kCloudTicks shared by the clouds followed).
std::int32_t horizonFor(const WorldSnapshot& snapshot) {
    const auto clouds = static_cast<std::int32_t>(std::min<std::size_t>(
        snapshot.rainclouds.size() + snapshot.rivals.size(), std::size_t{kMostClouds}));
    return std::clamp(kCloudTicks / std::max(clouds, 1), kShortHorizon, kLongHorizon);
}

std::int32_t KeenPlanner::rivalCount() const {
    std::int32_t rivals = 0;
    for (std::int32_t c = 0; c < paths_.clouds(); ++c)
        rivals += paths_.isRival(c) ? 1 : 0;
    return rivals;
}

// Whether a rival heavier than the cloud could swallow it before offset `by`: the rival's free
// path brought onto the cloud's by a wind of kRivalTakeShare of the cloud's mass (the wind law
// solved along both paths, every second tick).
bool KeenPlanner::rivalTakesFirst(std::int32_t cloud, std::int32_t k0, std::int32_t by) const {
    const CloudState& target = paths_.at(cloud, k0);
    const double budget = kRivalTakeShare * target.mass;
    for (std::int32_t rival = 0; rival < paths_.clouds(); ++rival) {
        if (!paths_.isRival(rival) || !(paths_.at(rival, k0).mass > target.mass))
            continue;
        const double r = std::sqrt(double(paths_.at(rival, k0).mass));
        for (std::int32_t k = k0 + 1; k < by; k += 2) {
            const CloudState& a = paths_.at(rival, k);
            const CloudState& b = paths_.at(cloud, k);
            const double dx = double(a.x) - b.x;
            const double dy = double(a.y) - b.y;
            const double shift = windShiftForCost(r, budget, chaseShiftSum(k - k0));
            // Far beyond the reach for certain (the margin dwarfs every rounding of hypot and
            // of the squares): no need to ask hypot.
            const double beyond = (r + shift) * (1.0 + 1e-6) + 1e-6;
            if (dx * dx + dy * dy > beyond * beyond)
                continue;
            if (std::hypot(dx, dy) - r <= shift)
                return true;
        }
    }
    return false;
}

void KeenPlanner::offer(const PathOutcome& out, std::int32_t k0, Wind w, Choice& best) {
    if (unsafe(out, k0) || out.catches == 0)
        return;
    const double score = scoreOf(out, k0);
    if (score > 0.0)
        offered_.push_back(Choice{score, w, out});
    if (score > best.score) {
        best.score = score;
        best.wind = w;
        best.outcome = out;
    }
}

double KeenPlanner::tryWind(PathSimulator& sim, const PathStart& at, Wind w, float rainMargin,
                            Choice& best) {
    const PathOutcome out = sim.run(at.own, at.k0, w.x, w.y, paths_.horizon(), rainMargin);
    if (out.catches == 0)
        return -std::numeric_limits<double>::infinity();
    if (!rivalTakesFirst(out.firstCloud, at.k0, out.firstCatch))
        offer(out, at.k0, w, best);
    return scoreOf(out, at.k0);
}

void KeenPlanner::searchWinds(PathSimulator& sim, const PathStart& at, const Trajectory& own,
                              float rainMargin, Choice& best) {
    std::vector<std::pair<double, Wind>> found;  // each catch's wind with its path's score
    for (const CatchOption& o :
         cheapestCatches(paths_, own, at.own, at.t, at.k0, rules_, kSimulated)) {
        if (o.windX == 0.0f && o.windY == 0.0f)
            continue;  // the free path, already scored
        const Wind w{o.windX, o.windY};
        found.emplace_back(tryWind(sim, at, w, rainMargin, best), w);
    }
    const std::size_t refined = std::min(found.size(), kRefined);
    std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(refined),
                      found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const double most = kCatchRules.maxWindShare * at.own.mass;
    for (std::size_t i = 0; i < refined && std::isfinite(found[i].first); ++i) {
        for (const double scale : kWindScales) {
            const Wind w{static_cast<float>(found[i].second.x * scale),
                         static_cast<float>(found[i].second.y * scale)};
            if (windStrengthDouble(w.x, w.y) <= most)
                tryWind(sim, at, w, rainMargin, best);
        }
    }
}

double KeenPlanner::withSecondWind(PathSimulator& sim, const PathStart& at, const Choice& c,
                                   float rainMargin) {
    // The path up to its first catch: the own state then, and the clouds swallowed by then.
    const std::int32_t k0 = at.k0;
    const std::int32_t k1 = c.outcome.firstCatch;
    const PathOutcome first = sim.run(at.own, k0, c.wind.x, c.wind.y, k1, rainMargin);
    sim.gone = sim.swallowed();
    const std::int32_t t1 = tickAfter(at.t, k1 - k0);
    afterCatch_.predict(t1, kOwnPathTicks, first.end);
    double best = c.score;
    for (const CatchOption& o :
         cheapestCatches(paths_, afterCatch_, first.end, t1, k1, rules_, kSecondWinds, sim.gone)) {
        if (o.windX == 0.0f && o.windY == 0.0f)
            continue;  // the free path on: c's own
        const PathOutcome second =
            sim.run(first.end, k1, o.windX, o.windY, paths_.horizon(), rainMargin);
        if (unsafe(second, k1) || second.catches == 0)
            continue;
        const double net =
            first.value + second.value - rules_.windWeight * (first.spent + second.spent);
        best = std::max(best, net / ((second.lastCatch - k0) + rules_.overheadTicks));
    }
    sim.gone.clear();
    return best;
}

Choice KeenPlanner::followedUp(PathSimulator& sim, const PathStart& at, float rainMargin,
                               const Choice& best) {
    std::stable_sort(offered_.begin(), offered_.end(),
                     [](const Choice& a, const Choice& b) { return a.score > b.score; });
    Choice chosen = best;
    double most = -std::numeric_limits<double>::infinity();
    std::vector<std::int32_t> firstClouds;
    for (const Choice& c : offered_) {
        if (firstClouds.size() == kFollowedUp)
            break;
        if (std::find(firstClouds.begin(), firstClouds.end(), c.outcome.firstCloud) !=
            firstClouds.end())
            continue;  // a weaker path to a first catch already looked at
        firstClouds.push_back(c.outcome.firstCloud);
        const double score = withSecondWind(sim, at, c, rainMargin);
        if (score > most) {
            most = score;
            chosen = c;
        }
    }
    return chosen;
}

Strategy KeenPlanner::decide(float tickDrift, const WorldSnapshot& snapshot,
                             const Trajectory& own) {
    const std::optional<PathStart> at = pathStart(tickDrift, snapshot, own);
    if (!at)
        return idlePlan(snapshot);  // nothing sensible to plan from
    const std::int32_t k0 = at->k0;
    const CloudState& start = at->own;
    paths_.predict(snapshot, horizonFor(snapshot), kMostClouds, kSwallows);
    rules_ = kCatchRules;
    if (rivalCount() == 1)
        rules_.windWeight = kOneRivalWindWeight;
    const double r = std::sqrt(double(start.mass));
    const auto rainMargin = static_cast<float>(kRainMargin * r);
    PathSimulator sim(paths_);
    sim.rivalWeight = 0.0;
    sim.rivalDangerMargin = static_cast<float>(kRivalMargin * r);

    // The free path, then winds towards the cheapest catches, the best of them also weaker and
    // stronger: the paths that stay clear of heavier clouds and whose first catch (after a wind)
    // no rival takes first. Of the best of those, the one with the best second wind.
    Choice best;
    offered_.clear();
    const PathOutcome free = sim.run(start, k0, 0.0f, 0.0f, paths_.horizon(), rainMargin);
    offer(free, k0, Wind{0.0f, 0.0f}, best);
    const double most = kCatchRules.maxWindShare * start.mass;
    searchWinds(sim, *at, own, rainMargin, best);
    best = followedUp(sim, *at, rainMargin, best);
    const EscapeRules escape{kThreatTicks, most, rainMargin, sim.rivalDangerMargin};
    return pathPlan(paths_, *at, best.score, best.outcome, best.wind, free, escape, snapshot);
}

}  // namespace

std::unique_ptr<Planner> makeKeenPlanner() {
    return std::make_unique<KeenPlanner>();
}

}  // namespace nimbus
