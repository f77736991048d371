// Time for the measurements: nanoseconds of the monotonic clock, the one that the
// pacing and the turnaround figures share, so that their readings compare.
#pragma once

#include <chrono>

namespace dorvane::bench {

using Nanos = std::chrono::nanoseconds;

inline Nanos SteadyNow() {
  return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace dorvane::bench
