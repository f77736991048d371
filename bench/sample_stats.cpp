#include "bench/sample_stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace dorvane::bench {

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0.0;
  const std::size_t half = samples.size() / 2;
  std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(half),
                   samples.end());
  const double upper = samples[half];
  if (samples.size() % 2 != 0) return upper;
  const double lower =
      *std::max_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(half));
  return (lower + upper) / 2.0;
}

double Percentile(std::vector<double> samples, double percent) {
  if (samples.empty()) return 0.0;
  percent = std::clamp(percent, 0.0, 100.0);
  std::sort(samples.begin(), samples.end());
  // The rank is computed on a scaled integer: 99.0 / 100 x 1000 in floating point is
  // 990.0000000000001, whose ceiling would pick the 991st sample instead of the 990th.
  const auto scaled = static_cast<long long>(std::llround(percent * 1000.0));
  const auto count = static_cast<long long>(samples.size());
  long long rank = (scaled * count + 100000 - 1) / 100000;
  rank = std::clamp(rank, 1LL, count);
  return samples[static_cast<std::size_t>(rank - 1)];
}

}  // namespace dorvane::bench
