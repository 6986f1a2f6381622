#pragma once
// Sample statistics for the standings: the mean and a 95 % confidence interval for it.
#include <optional>
#include <vector>

namespace nimbus::tournament {

// The two-sided 95 % quantile of Student's t with `df` degrees of freedom (df >= 1): a table up
// to 30, a Cornish-Fisher expansion above (within 0.001 of the exact value).
double studentT95(int df);

struct MeanInterval {
    double mean = 0.0;
    std::optional<double> halfWidth;  // mean +- halfWidth; none for fewer than two values
};

// Mean of the values (0 for none) and the t-based half-width of its 95 % interval.
MeanInterval meanInterval(const std::vector<double>& values);

}  // namespace nimbus::tournament
