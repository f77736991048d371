#include "link/monotonic_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

namespace dorvane {
namespace {

// 2^32 ms is 4294967 s and 296 ms.
TEST(MonotonicClock, MillisecondsWrapModulo2To32) {
  struct Case {
    time_t sec;
    long nsec;
    std::uint32_t ticks;
  };
  const Case cases[] = {
      {0, 0, 0u},
      {1, 999999999, 1999u},              // partial milliseconds are cut, not rounded
      {4294967, 295000000, 0xFFFFFFFFu},  // the last tick before the wrap
      {4294967, 296000000, 0u},           // the wrap
      {4294968, 0, 704u},
      {8589934, 592000000, 0u},                    // the second wrap
      {100000000, 123456789, 1215752192u + 123u},  // 10^11 ms mod 2^32, plus 123
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sec);
    EXPECT_EQ(TicksFromTimespec(timespec{c.sec, c.nsec}), c.ticks);
  }
}

// Bracketed by two readings of CLOCK_MONOTONIC: a wall-clock source would land far
// outside, whatever the host's uptime.
TEST(MonotonicClock, ReadsTheMonotonicClock) {
  MonotonicClock clock;
  timespec before{}, after{};
  ::clock_gettime(CLOCK_MONOTONIC, &before);
  const std::uint32_t ticks = clock.GetTickCount();
  ::clock_gettime(CLOCK_MONOTONIC, &after);
  const std::uint32_t low = TicksFromTimespec(before);
  const std::uint32_t high = TicksFromTimespec(after);
  EXPECT_LE(static_cast<std::uint32_t>(ticks - low), static_cast<std::uint32_t>(high - low));
}

}  // namespace
}  // namespace dorvane
