#pragma once
// Weng-Lin ratings for free-for-all games under the Plackett-Luce model (Weng and Lin, "A
// Bayesian Approximation Method for Online Ranking", JMLR 12, 2011, algorithm 4), each player a
// team of one. Constants: a new player starts at mu = 25, sigma = 25/3; the performance noise is
// beta = sigma0 / 2 = 25/6; gamma_i = sigma_i / c; sigma^2 never shrinks below kappa = 0.0001
// of itself in one game. No extra variance is added between games.
#include <cstdint>
#include <vector>

namespace nimbus::tournament {

struct Rating {
    double mu = 25.0;
    double sigma = 25.0 / 3.0;
    // The conservative estimate the standings are ordered by.
    double ordinal() const { return mu - 3.0 * sigma; }
};

struct RatingModel {
    double beta = 25.0 / 6.0;
    double kappa = 0.0001;
};

// The players' ratings after one game: before[i] is player i's rating going in and ranks[i] its
// place (1 best; equal places are a tie). Same size in and out; an empty game changes nothing.
std::vector<Rating> rateGame(const std::vector<Rating>& before,
                             const std::vector<std::int32_t>& ranks, const RatingModel& model = {});

// The same update as a change per player: mu moves by muDelta and sigma^2 is multiplied by
// varianceFactor. Lets an entrant holding several seats of one game take all its seats' changes.
struct RatingChange {
    double muDelta = 0.0;
    double varianceFactor = 1.0;
};
std::vector<RatingChange> ratingChanges(const std::vector<Rating>& before,
                                        const std::vector<std::int32_t>& ranks,
                                        const RatingModel& model = {});

}  // namespace nimbus::tournament
