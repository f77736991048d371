// Percentiles by the nearest-rank rule, checked against its textbook examples.
#include "bench/sample_stats.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace dorvane::bench {
namespace {

struct RankCase {
  std::vector<double> samples;
  double percent;
  double expected;
};

TEST(SampleStatsTest, PercentileFollowsTheNearestRankExamples) {
  // Samples given out of order, as measurements come.
  const std::vector<double> five = {35, 20, 50, 15, 40};
  const std::vector<double> ten = {8, 3, 20, 7, 16, 8, 10, 15, 6, 13};
  const std::vector<RankCase> cases = {
      {five, 5, 15}, {five, 30, 20}, {five, 40, 20}, {five, 50, 35}, {five, 100, 50},
      {ten, 25, 7},  {ten, 50, 8},   {ten, 75, 15},  {ten, 100, 20}, {ten, 0, 3},
  };
  for (const RankCase& c : cases) {
    EXPECT_EQ(Percentile(c.samples, c.percent), c.expected)
        << c.percent << "th of " << c.samples.size();
  }
}

TEST(SampleStatsTest, NinetyNinthOfAThousandIsTheNineHundredNinetieth) {
  // 0.99 x 1000 is not exactly 990 in floating point; a plain ceiling would take
  // the 991st sample.
  std::vector<double> samples(1000);
  std::iota(samples.begin(), samples.end(), 1.0);
  EXPECT_EQ(Percentile(samples, 99), 990);
  samples.resize(100);
  EXPECT_EQ(Percentile(samples, 99), 99);
}

TEST(SampleStatsTest, MedianTakesTheMiddleOrTheMeanOfTheTwoMiddles) {
  EXPECT_EQ(Median({3, 1, 2}), 2);
  EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_EQ(Median({7}), 7);
  EXPECT_EQ(Median({}), 0);
  EXPECT_EQ(Percentile({}, 50), 0);
}

}  // namespace
}  // namespace dorvane::bench
