#include "tournament/standings/rating.hpp"

#include <algorithm>
#include <cmath>

namespace nimbus::tournament {

std::vector<RatingChange> ratingChanges(const std::vector<Rating>& before,
                                        const std::vector<std::int32_t>& ranks,
                                        const RatingModel& model) {
    const std::size_t n = before.size();
    std::vector<RatingChange> changes(n);
    if (n == 0) {
        return changes;
    }
    double sum = 0.0;
    double maxMu = before[0].mu;
    for (const Rating& r : before) {
        sum += r.sigma * r.sigma + model.beta * model.beta;
        maxMu = std::max(maxMu, r.mu);
    }
    const double c = std::sqrt(sum);
    // exp(mu / c), scaled by exp(-maxMu / c) so it cannot overflow; only ratios are used.
    std::vector<double> strength(n);
    for (std::size_t i = 0; i < n; ++i) {
        strength[i] = std::exp((before[i].mu - maxMu) / c);
    }
    // C_q: the strength of everyone placed at q or below; A_q: how many share q's place.
    std::vector<double> below(n, 0.0);
    std::vector<double> sharing(n, 0.0);
    for (std::size_t q = 0; q < n; ++q) {
        for (std::size_t s = 0; s < n; ++s) {
            if (ranks[s] >= ranks[q]) {
                below[q] += strength[s];
            }
            if (ranks[s] == ranks[q]) {
                sharing[q] += 1.0;
            }
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        double omega = 0.0;
        double delta = 0.0;
        for (std::size_t q = 0; q < n; ++q) {
            if (ranks[q] > ranks[i]) {
                continue;
            }
            const double p = strength[i] / below[q];
            omega += ((q == i ? 1.0 : 0.0) - p) / sharing[q];
            delta += p * (1.0 - p) / sharing[q];
        }
        const double variance = before[i].sigma * before[i].sigma;
        const double gamma = before[i].sigma / c;
        changes[i].muDelta = variance / c * omega;
        changes[i].varianceFactor = std::max(1.0 - gamma * variance / (c * c) * delta, model.kappa);
    }
    return changes;
}

std::vector<Rating> rateGame(const std::vector<Rating>& before,
                             const std::vector<std::int32_t>& ranks, const RatingModel& model) {
    const std::vector<RatingChange> changes = ratingChanges(before, ranks, model);
    std::vector<Rating> after = before;
    for (std::size_t i = 0; i < after.size(); ++i) {
        after[i].mu += changes[i].muDelta;
        after[i].sigma *= std::sqrt(changes[i].varianceFactor);
    }
    return after;
}

}  // namespace nimbus::tournament
