#pragma once
// Sample statistics for the standings: the mean, the standard deviation and a 95 % confidence
// interval for the mean.
#include <cstdint>
#include <optional>
#include <vector>

namespace nimbus::tournament {

// The two-sided 95 % quantile of Student's t with `df` degrees of freedom (df >= 1): a table up
// to 30, a Cornish-Fisher expansion above (within 0.001 of the exact value).
double studentT95(int df);

struct MeanInterval {
    double mean = 0.0;
    std::optional<double> halfWidth;  // mean +- halfWidth; none for fewer than two values
    std::optional<double> sd;         // the sample standard deviation; none below two values
};

// Mean of the values (0 for none) and the t-based half-width of its 95 % interval.
MeanInterval meanInterval(const std::vector<double>& values);

// The same, one value at a time in constant memory (Welford's updates).
class RunningMean {
  public:
    void add(double value);
    std::int64_t count() const { return count_; }
    MeanInterval interval() const;

  private:
    std::int64_t count_ = 0;
    double mean_ = 0.0;
    double squares_ = 0.0;  // sum of squared differences from the mean
};

}  // namespace nimbus::tournament
