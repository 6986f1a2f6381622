#include "tournament/standings/stats.hpp"

#include <array>
#include <cmath>

namespace nimbus::tournament {

double studentT95(int df) {
    static constexpr std::array<double, 30> kTable{
        12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
        2.201,  2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
        2.080,  2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045, 2.042};
    if (df <= 30) {
        return kTable[static_cast<std::size_t>(df < 1 ? 0 : df - 1)];
    }
    const double z = 1.959963984540054;
    const double n = df;
    const double z3 = z * z * z;
    const double z5 = z3 * z * z;
    return z + (z3 + z) / (4 * n) + (5 * z5 + 16 * z3 + 3 * z) / (96 * n * n);
}

MeanInterval meanInterval(const std::vector<double>& values) {
    MeanInterval out;
    if (values.empty()) {
        return out;
    }
    double sum = 0.0;
    for (double v : values) {
        sum += v;
    }
    out.mean = sum / static_cast<double>(values.size());
    if (values.size() < 2) {
        return out;
    }
    double squares = 0.0;
    for (double v : values) {
        squares += (v - out.mean) * (v - out.mean);
    }
    const auto n = static_cast<double>(values.size());
    const double sd = std::sqrt(squares / (n - 1.0));
    out.sd = sd;
    out.halfWidth = studentT95(static_cast<int>(values.size()) - 1) * sd / std::sqrt(n);
    return out;
}

void RunningMean::add(double value) {
    ++count_;
    const double delta = value - mean_;
    mean_ += delta / static_cast<double>(count_);
    squares_ += delta * (value - mean_);
}

MeanInterval RunningMean::interval() const {
    MeanInterval out;
    out.mean = mean_;
    if (count_ >= 2) {
        const auto n = static_cast<double>(count_);
        const double sd = std::sqrt(squares_ / (n - 1.0));
        out.sd = sd;
        const int df = count_ - 1 > 1000000 ? 1000000 : static_cast<int>(count_ - 1);
        out.halfWidth = studentT95(df) * sd / std::sqrt(n);
    }
    return out;
}

}  // namespace nimbus::tournament
