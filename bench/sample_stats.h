// Summaries of measured samples. Percentiles use the nearest-rank rule, so every
// figure reported is a value that was actually measured.
#pragma once

#include <vector>

namespace dorvane::bench {

// The middle value; with an even count, the mean of the two middle values.
// 0 for no samples.
double Median(std::vector<double> samples);

// The smallest sample that at least `percent` per cent of the samples do not
// exceed (nearest rank: the ceil(percent / 100 x N)-th smallest). `percent` is
// clamped to 0..100; 0 gives the smallest sample. 0 for no samples.
double Percentile(std::vector<double> samples, double percent);

}  // namespace dorvane::bench
